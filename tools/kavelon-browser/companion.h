#pragma once

#include <functional>

#include <QJsonObject>
#include <QList>
#include <QLocalServer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QWebEngineView>

class QLocalSocket;

namespace kavelon {

// One browser window, titled by its page; tells its owner when it closes.
class BrowserWindow : public QWebEngineView {
    Q_OBJECT
  public:
    using Factory = std::function<BrowserWindow*()>;

    // The factory makes the windows that pages open themselves (links to a new window).
    explicit BrowserWindow(Factory factory);

    void Navigate(const QUrl& url);
    // Shows the window in front, restored when it was minimised.
    void Present();
    QUrl requested() const { return requested_; }

  signals:
    void closed(kavelon::BrowserWindow* window);

  protected:
    void closeEvent(QCloseEvent* event) override;
    QWebEngineView* createWindow(QWebEnginePage::WebWindowType type) override;

  private:
    void UpdateTitle();

    Factory factory_;
    QUrl requested_;
    bool closed_ = false;
};

// Serves the requests of the program on the local socket and owns the windows. Ends the
// program when the last window has closed, or when no window was opened soon after start.
class Companion : public QObject {
    Q_OBJECT
  public:
    enum class ListenResult { Listening, OtherRunning, Failed };

    Companion();
    ~Companion() override;

    ListenResult Listen(const QString& name);

  private:
    void OnNewConnection();
    void OnReadyRead(QLocalSocket* socket);
    QJsonObject Handle(const QJsonObject& request);
    QJsonObject Status() const;
    BrowserWindow* NewWindow();
    void OnWindowClosed(BrowserWindow* window);
    void Shutdown();

    QLocalServer server_;
    QTimer idleExit_;
    QPointer<BrowserWindow> shared_;
    QList<QPointer<BrowserWindow>> open_;  // the windows not yet closed, oldest first
    QList<QPointer<BrowserWindow>> all_;   // every window still alive
    bool quitAfterReply_ = false;
};

}  // namespace kavelon
