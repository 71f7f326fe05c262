#include <cstdio>
#include <optional>

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>

#include "accounts/accountstore.h"
#include "app/frmsendicm.h"
#include "core/browser.h"
#include "core/settings.h"
#include "portal/portalclient.h"
#include "settings/frminit.h"
#include "ui/msgbox.h"
#include "version.h"

using namespace kavelon;

namespace {

// An unattended run started by a scheduler has no display: it runs offscreen.
void ChooseUnattendedPlatform(const QStringList& arguments) {
    if (!FrmSendIcm::IsAutoArgument(arguments)) return;
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) return;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

QStringList Arguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

const char kUsage[] =
    "Gebruik: kavelon [auto]\n"
    "\n"
    "Zonder argument opent Kavelon zijn venster.\n"
    "  auto       verzendt alle openstaande orders, haalt de orderbevestigingen op,\n"
    "             schrijft een logbestand in logfiles en stopt, zonder venster\n"
    "  --version  toont de naam en de versie\n"
    "  --help     toont deze tekst\n"
    "\n"
    "Afsluitstatus na auto: 0 zonder rode regels, 1 met rode regels, 2 als het\n"
    "logbestand niet kon worden geschreven. Meer in kavelon(1).\n";

// The one argument "--version" or "--help" is answered at once: no window, no settings and no
// account file. Gives the exit status, or nothing for every other command line.
std::optional<int> AnswerInformationArgument(const QStringList& arguments) {
    if (arguments.size() != 2) return std::nullopt;
    if (arguments[1] == QLatin1String("--version")) {
        std::printf("%s %s\n", qPrintable(kProgramTitle), kVersionText);
        return 0;
    }
    if (arguments[1] == QLatin1String("--help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    const QStringList arguments = Arguments(argc, argv);
    if (const std::optional<int> status = AnswerInformationArgument(arguments)) return *status;
    ChooseUnattendedPlatform(arguments);
    companion::ProvideRuntimeFolder();
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Kavelon"));
    QCoreApplication::setApplicationName(kProgramTitle);
    QGuiApplication::setDesktopFileName(QStringLiteral("kavelon"));

    MsgBox::setUnattended(FrmSendIcm::IsAutoArgument(arguments));

    // Without its accounts the program still lists and shows messages; a send reports them missing.
    AccountStore database;
    QString databaseError;
    if (!OpenDebiteurDatabase(database, databaseError)) MsgBox::Warn(nullptr, databaseError);

    Settings settings = ReadSettings(SettingsStore());
    CompanionBrowser browser([](const QString& address) {
        return QDesktopServices::openUrl(QUrl::fromUserInput(address));
    });

    FrmSendIcm* mainWindow = nullptr;
    browser.setReport([&mainWindow](const QString& text) { MsgBox::Warn(mainWindow, text); });
    MainWindowParts parts;
    parts.openSettings = [&settings, &database, &mainWindow] {
        FrmInit settingsWindow(
            settings, &database, [&mainWindow] { mainWindow->tabDir_Click(); },
            DefaultSystemProxyFactory(), mainWindow);
        settingsWindow.exec();
    };
    parts.settings = &settings;
    parts.browser = &browser;
    parts.database = &database;
    PortalClient portal(settings);
    // Staging and tests may shorten how long a request may take.
    const int requestTimeoutMs = qEnvironmentVariableIntValue("KAVELON_REQUEST_TIMEOUT_MS");
    if (requestTimeoutMs > 0)
        portal.setTimeouts(qMin(requestTimeoutMs, PortalClient::kConnectTimeoutMs),
                           requestTimeoutMs);
    AttachPortal(parts, portal);
    FrmSendIcm window(std::move(parts), arguments);
    mainWindow = &window;
    QObject::connect(&window, &FrmSendIcm::unattendedRunFinished, &app,
                     [](int status) { QCoreApplication::exit(status); });
    window.show();
    return app.exec();
}
