#include "ui/fonts.h"

#include <optional>

#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QWidget>

namespace kavelon {
namespace {

// Narrow sans-serif families with Arial's metrics, the first installed one is used.
const char* const kNarrowFamilies[] = {"Liberation Sans", "Arimo", "Arial"};
constexpr int kDialogPixels = 10;
constexpr int kSmallestPixels = 7;
// The tightest caption of the windows and its room: the account editor's first label.
const char kTightestCaption[] = "Debiteurennummer:";
constexpr int kTightestRoom = 92;

const QString kEllipsis = QStringLiteral("...");

std::optional<QFont> NarrowFont() {
    const QStringList installed = QFontDatabase::families();
    for (const char* family : kNarrowFamilies) {
        if (!installed.contains(QLatin1String(family))) continue;
        QFont font(QString::fromLatin1(family));
        font.setPixelSize(kDialogPixels);
        return font;
    }
    return std::nullopt;
}

// The system's sans-serif, condensed if it can be, at the largest size the tightest caption
// fits in.
QFont FallbackFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setStretch(QFont::SemiCondensed);
    for (int pixels = kDialogPixels; pixels >= kSmallestPixels; --pixels) {
        font.setPixelSize(pixels);
        if (QFontMetrics(font).horizontalAdvance(QLatin1String(kTightestCaption)) <= kTightestRoom)
            break;
    }
    return font;
}

}  // namespace

QFont DialogFont() {
    if (const std::optional<QFont> narrow = NarrowFont()) return *narrow;
    return FallbackFont();
}

void UseDialogFont(QWidget* window) {
    window->setFont(DialogFont());
}

QString ElideStart(const QFontMetrics& metrics, const QString& keep, const QString& tail,
                   int width) {
    // Measured as the label lays the line out, which can be a pixel wider than its advance.
    const auto fits = [&metrics, width](const QString& text) {
        return metrics.size(0, text).width() <= width;
    };
    if (fits(keep + tail)) return keep + tail;
    for (qsizetype cut = 1; cut < tail.size(); ++cut) {
        if (tail.at(cut).isLowSurrogate()) continue;
        const QString shown = keep + kEllipsis + tail.mid(cut);
        if (fits(shown)) return shown;
    }
    return keep + kEllipsis;
}

void ShowPathText(QLabel* label, const QString& keep, const QString& path) {
    label->setText(ElideStart(label->fontMetrics(), keep, path, label->contentsRect().width()));
    label->setToolTip(keep + path);
}

}  // namespace kavelon
