#pragma once

#include <QIcon>
#include <QPixmap>

namespace kavelon {

// The program's own artwork, drawn when the window is built.
QPixmap HeaderBanner(const QSize& size);
QPixmap FooterStrip(const QSize& size);

enum class ButtonPicture { Bekijken, Select, Deselect, Delete, WebOrder, Refresh };
QIcon ButtonIcon(ButtonPicture picture);

}  // namespace kavelon
