#include "companion.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QWebEnginePage>

#include "core/browser.h"

namespace kavelon {

namespace {

// How long the probe of an existing socket, an unfinished request and a start without any
// window may take.
constexpr int kProbeTimeoutMs = 1000;
constexpr int kRequestTimeoutMs = 5000;
constexpr int kIdleExitMs = 60000;

QJsonObject Ok() {
    return {{QStringLiteral("ok"), true}};
}

QJsonObject Refused(const QString& error) {
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}};
}

// Whether the web engine runs its pages in its sandbox: the two ways to switch it off.
bool SandboxOn() {
    return !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX") &&
           !qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS").contains(u"--no-sandbox");
}

}  // namespace

BrowserWindow::BrowserWindow(Factory factory) : factory_(std::move(factory)) {
    setAttribute(Qt::WA_DeleteOnClose);
    resize(companion::kWindowWidth, companion::kWindowHeight);
    connect(this, &QWebEngineView::titleChanged, this, &BrowserWindow::UpdateTitle);
    connect(this, &QWebEngineView::urlChanged, this, &BrowserWindow::UpdateTitle);
    connect(page(), &QWebEnginePage::windowCloseRequested, this, &QWidget::close);
}

void BrowserWindow::Navigate(const QUrl& url) {
    requested_ = url;
    setUrl(url);
    UpdateTitle();
}

void BrowserWindow::Present() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void BrowserWindow::closeEvent(QCloseEvent* event) {
    QWebEngineView::closeEvent(event);
    if (event->isAccepted() && !closed_) {
        closed_ = true;
        emit closed(this);
    }
}

QWebEngineView* BrowserWindow::createWindow(QWebEnginePage::WebWindowType) {
    BrowserWindow* window = factory_();
    window->Present();
    return window;
}

void BrowserWindow::UpdateTitle() {
    const QString pageTitle = title();
    setWindowTitle(pageTitle.isEmpty() ? url().toDisplayString() : pageTitle);
}

Companion::Companion() {
    connect(&server_, &QLocalServer::newConnection, this, &Companion::OnNewConnection);
    idleExit_.setSingleShot(true);
    idleExit_.setInterval(kIdleExitMs);
    connect(&idleExit_, &QTimer::timeout, this, [this] {
        if (open_.isEmpty()) Shutdown();
    });
}

Companion::~Companion() {
    // Pages go before the program's web profile does.
    for (const QPointer<BrowserWindow>& window : all_) delete window.data();
}

Companion::ListenResult Companion::Listen(const QString& name) {
    if (name.isEmpty()) return ListenResult::Failed;
    QLocalSocket probe;
    probe.connectToServer(name);
    // A listener of another user is no companion of ours: its name is taken over below.
    if (probe.waitForConnected(kProbeTimeoutMs) &&
        companion::PeerIsThisUser(probe, companion::Peer::Server))
        return ListenResult::OtherRunning;
    probe.abort();

    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(name)) {
        if (server_.serverError() != QAbstractSocket::AddressInUseError)
            return ListenResult::Failed;
        // Left behind by a companion that did not end cleanly, or held by another user.
        QLocalServer::removeServer(name);
        if (!server_.listen(name)) return ListenResult::Failed;
    }
    idleExit_.start();
    return ListenResult::Listening;
}

void Companion::OnNewConnection() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        // Only the program of this user may ask: nothing of another user is read or answered.
        if (!companion::PeerIsThisUser(*socket, companion::Peer::Client)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
        QTimer::singleShot(kRequestTimeoutMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
    }
}

void Companion::OnReadyRead(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > companion::kMaxRequestBytes) socket->abort();
        return;
    }
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    QJsonParseError error;
    const QJsonDocument request = QJsonDocument::fromJson(socket->readLine().trimmed(), &error);
    const QJsonObject reply = error.error == QJsonParseError::NoError && request.isObject()
                                  ? Handle(request.object())
                                  : Refused(QStringLiteral("not a JSON object"));
    socket->write(QJsonDocument(reply).toJson(QJsonDocument::Compact) + '\n');
    socket->flush();
    if (socket->bytesToWrite() > 0) socket->waitForBytesWritten(kRequestTimeoutMs);
    socket->disconnectFromServer();
    if (quitAfterReply_) Shutdown();
}

QJsonObject Companion::Handle(const QJsonObject& request) {
    const QString command = request.value(QStringLiteral("command")).toString();
    if (command == QLatin1String(companion::kCommandOpen) ||
        command == QLatin1String(companion::kCommandOpenNew)) {
        const QUrl url(request.value(QStringLiteral("url")).toString(), QUrl::StrictMode);
        if (!companion::CanShow(url)) return Refused(QStringLiteral("cannot show this address"));
        const bool shared = command == QLatin1String(companion::kCommandOpen);
        BrowserWindow* window = shared ? shared_.data() : nullptr;
        if (!window) window = NewWindow();
        if (shared) shared_ = window;
        window->Navigate(url);
        window->Present();
        return Ok();
    }
    if (command == QLatin1String(companion::kCommandStatus)) return Status();
    if (command == QLatin1String(companion::kCommandClose)) {
        QJsonObject reply = Ok();
        reply.insert(QStringLiteral("closed"), !shared_.isNull());
        if (shared_) shared_->close();
        return reply;
    }
    if (command == QLatin1String(companion::kCommandQuit)) {
        quitAfterReply_ = true;
        return Ok();
    }
    return Refused(QStringLiteral("unknown command"));
}

QJsonObject Companion::Status() const {
    QJsonArray windows;
    for (const QPointer<BrowserWindow>& window : open_) {
        if (!window) continue;
        windows.append(QJsonObject{
            {QStringLiteral("shared"), window == shared_},
            {QStringLiteral("width"), window->width()},
            {QStringLiteral("height"), window->height()},
            {QStringLiteral("url"), window->url().toString(QUrl::FullyEncoded)},
            {QStringLiteral("requested"), window->requested().toString(QUrl::FullyEncoded)},
            {QStringLiteral("title"), window->windowTitle()},
            {QStringLiteral("visible"), window->isVisible()},
        });
    }
    QJsonObject reply = Ok();
    reply.insert(QStringLiteral("pid"), QCoreApplication::applicationPid());
    reply.insert(QStringLiteral("count"), windows.size());
    reply.insert(QStringLiteral("sandbox"), SandboxOn());
    reply.insert(QStringLiteral("windows"), windows);
    return reply;
}

BrowserWindow* Companion::NewWindow() {
    auto* window = new BrowserWindow([this] { return NewWindow(); });
    connect(window, &BrowserWindow::closed, this, &Companion::OnWindowClosed);
    open_.append(window);
    all_.removeAll(nullptr);
    all_.append(window);
    idleExit_.stop();
    return window;
}

void Companion::OnWindowClosed(BrowserWindow* window) {
    open_.removeAll(window);
    open_.removeAll(nullptr);
    if (shared_ == window) shared_ = nullptr;
    if (open_.isEmpty()) Shutdown();
}

void Companion::Shutdown() {
    // Stop listening at once, so that the next request starts a new companion.
    server_.close();
    idleExit_.stop();
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
}

}  // namespace kavelon
