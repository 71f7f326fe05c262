#pragma once

#include <functional>
#include <optional>

#include <QJsonObject>
#include <QList>
#include <QLocalSocket>
#include <QString>
#include <QUrl>

namespace kavelon {

// Shows pages for the program: in the one shared browser window, or in a window of their own.
class Browser {
  public:
    virtual ~Browser();
    // Shows the address (a URL or a local file path) in the shared window; creates the window
    // when there is none or the user has closed it. Returns without waiting for the page.
    virtual void OpenInBrowser(const QString& address) = 0;
    // Shows the address in a new window of its own.
    virtual void OpenInNewWindow(const QString& address) = 0;
};

// The address as a browser gets it: a local file path (absolute, or relative to the current
// folder and existing) becomes a file URL, anything else is read the way a user types a URL.
// Invalid for a blank address.
QUrl BrowserUrl(const QString& address);

// The exchange with the companion program kavelon-browser over a local socket: per
// connection one request and one reply, each a JSON object on one line of UTF-8.
//   {"command":"open","url":U}      show U in the shared window (750 x 500 when created)
//   {"command":"open-new","url":U}  show U in a new window of its own
//   {"command":"status"}            the windows that are open
//   {"command":"close"}             close the shared window as its user would
//   {"command":"quit"}              close every window and end
// Every reply has "ok" (and "error" when false). The status reply adds "pid", "count",
// "sandbox" (whether the web engine runs its pages in its sandbox) and "windows", a list of
// objects with "shared", "width", "height", "url", "requested", "title" and "visible". The
// companion ends when its last window has closed; it answers only connections of its own
// user.
namespace companion {

inline constexpr char kCommandOpen[] = "open";
inline constexpr char kCommandOpenNew[] = "open-new";
inline constexpr char kCommandStatus[] = "status";
inline constexpr char kCommandClose[] = "close";
inline constexpr char kCommandQuit[] = "quit";

// Size of a window when it is created.
inline constexpr int kWindowWidth = 750;
inline constexpr int kWindowHeight = 500;

// Longest request line the companion reads.
inline constexpr qint64 kMaxRequestBytes = 1024 * 1024;

// The addresses the companion shows: web pages and local files. Others go to the desktop.
inline bool CanShow(const QUrl& url) {
    if (!url.isValid()) return false;
    const QString scheme = url.scheme();
    if (scheme == u"file") return url.isLocalFile();
    return (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

// The companion's command-line options: its socket, and a socket it reports readiness to
// with one line, "ready" or "failed".
inline const QString kOptionSocket = QStringLiteral("--socket");
inline const QString kOptionNotify = QStringLiteral("--notify");
inline constexpr char kReady[] = "ready";
inline constexpr char kFailed[] = "failed";

// The folder for the program's sockets, which only this user may enter: XDG_RUNTIME_DIR when
// it is such a folder, else "kavelon-" + the user id in the temporary folder, made with mode
// 0700 when missing and set back to it when others had rights. Empty when neither folder is
// private (a link, another owner, not a folder); always empty on Windows, whose pipes have
// no folder.
QString PrivateFolder();
// A folder (not a link to one) of this user that nobody else may enter.
bool IsPrivateFolder(const QString& path);
// Where the system sets no XDG_RUNTIME_DIR, sets it to the private folder, so that Qt uses a
// runtime folder of this user without warning about the missing one. Call before the
// application object is made.
void ProvideRuntimeFolder();

// The socket name: KAVELON_BROWSER_SOCKET when set, else "kavelon-browser" in the private
// folder (a per-user pipe name on Windows). Empty when there is no private folder.
QString SocketName();

// Which end of a connection the other process holds.
enum class Peer { Server, Client };

// True when the process at the other end of the connected socket runs as this user. Every
// connection of the program and its companion is checked before anything is sent on it, so
// a listener that another user planted on the name never gets an address.
bool PeerIsThisUser(const QLocalSocket& socket, Peer peer);

}  // namespace companion

// One window of the companion as its status reports it.
struct BrowserWindowState {
    bool shared = false;
    int width = 0;
    int height = 0;
    QUrl url;        // what the window shows now
    QUrl requested;  // the last address it was told to show
    QString title;
    bool visible = false;
};

// What the companion answers to a status request.
struct CompanionStatus {
    qint64 pid = 0;
    bool sandbox = true;
    QList<BrowserWindowState> windows;
    std::optional<BrowserWindowState> shared() const;
};

// Shows pages through kavelon-browser, started detached when it is not running, so it
// outlives the program. When the companion cannot be started or does not answer, the
// fallback gets the address as an encoded URL (the window layer passes the desktop's
// default browser); when that fails too, the report gets a Dutch text for the user.
class CompanionBrowser : public Browser {
  public:
    using Fallback = std::function<bool(const QString& url)>;
    using Report = std::function<void(const QString& message)>;

    // How long a connection, a reply and the start of the companion may take.
    static constexpr int kConnectTimeoutMs = 2000;
    static constexpr int kReplyTimeoutMs = 10000;
    static constexpr int kStartTimeoutMs = 10000;

    explicit CompanionBrowser(Fallback fallback = {});
    ~CompanionBrowser() override;

    // The companion program: KAVELON_BROWSER when set, else kavelon-browser beside this
    // program, else in the installed helper folder, else on the search path; empty when none
    // is found.
    static QString FindProgram();

    void setProgram(const QString& program) { program_ = program; }
    QString program() const { return program_; }
    void setReport(Report report) { report_ = std::move(report); }
    void setSocketName(const QString& name) { socketName_ = name; }
    QString socketName() const { return socketName_; }

    void OpenInBrowser(const QString& address) override;
    void OpenInNewWindow(const QString& address) override;

    // Requests to a running companion; these never start one. CloseSharedWindow is true when
    // a shared window was open and has been closed; Quit when the companion is ending.
    std::optional<CompanionStatus> Status() const;
    bool CloseSharedWindow() const;
    bool Quit() const;

  private:
    void Show(const char* command, const QString& address);
    // The fallback, else the report of the reason the page cannot be shown.
    void ShowElsewhere(const QUrl& url, const QString& reason);
    // Sends one request and reads its reply; nothing when no companion answers.
    std::optional<QJsonObject> Exchange(const QJsonObject& request) const;
    // Starts the companion and waits until it listens.
    bool StartCompanion() const;

    Fallback fallback_;
    Report report_;
    QString program_;
    QString socketName_;
};

}  // namespace kavelon
