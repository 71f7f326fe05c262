// Prints how long the main window takes to fill its confirmations list from 10,000 files.
#include <QApplication>
#include <QElapsedTimer>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>

#include "app/frmsendicm.h"
#include "core/codec.h"

using namespace kavelon;

namespace {

void WriteConfirmations(const QString& folder, int count) {
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        QStringList lines(20);
        lines[1] = QStringLiteral("Referentie %1").arg(i);
        lines[4] = QStringLiteral("100%1").arg(i % 7);
        lines[7] = QStringLiteral("2026-12-%1").arg(i % 28 + 1);
        lines[13] = QString::number(500000 + i);
        QFile file(QStringLiteral("%1/bevestiging %2.icb").arg(folder).arg(i));
        if (!file.open(QIODevice::WriteOnly)) return;
        file.write(EncodeCp1252(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10000;
    QTemporaryDir root;
    WriteConfirmations(root.filePath(QStringLiteral("icb")), count);

    Settings settings;
    settings.Directory = root.path();
    settings.OnlineCheck = false;
    MainWindowParts parts;
    parts.settings = &settings;
    FrmSendIcm window(parts, {QStringLiteral("kavelon")});
    window.show();

    QElapsedTimer timer;
    timer.start();
    window.findChild<QTabBar*>(QStringLiteral("tabDir"))->setCurrentIndex(1);
    const qint64 fillMs = timer.elapsed();
    const int rows =
        window.findChild<QTreeWidget*>(QStringLiteral("lstBerichten"))->topLevelItemCount();
    std::printf("confirmations list: %d rows filled in %lld ms\n", rows,
                static_cast<long long>(fillMs));
    return rows == count ? 0 : 1;
}
