#pragma once

#include <QFont>
#include <QString>

class QFontMetrics;
class QLabel;
class QWidget;

namespace kavelon {

// The windows keep fixed pixel positions made for a narrow sans-serif. The font is a narrow
// sans-serif metric-compatible with Arial (Liberation Sans, from fonts-liberation2) at 10
// pixels; where none is installed, the system's sans-serif, condensed where it has such a face
// and as small as the tightest caption needs.
QFont DialogFont();
void UseDialogFont(QWidget* window);

// keep followed by tail, as it fits width pixels: when the whole does not fit, tail loses
// characters at its start, which become "...", so its end (a folder name) stays visible.
QString ElideStart(const QFontMetrics& metrics, const QString& keep, const QString& tail,
                   int width);

// Shows keep + path in the label, the path elided at its start to fit; the tooltip holds the
// whole text.
void ShowPathText(QLabel* label, const QString& keep, const QString& path);

}  // namespace kavelon
