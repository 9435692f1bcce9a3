// Small layout helpers shared by the panel's sections.
#pragma once

#include <QColor>
#include <QList>
#include <QWidget>

namespace h8::ui {

// The dark background of the panel's sections.
inline const QColor kSectionBackground(18, 17, 24);
void darkBackground(QWidget* section);

// Places `items` one below the other from `top` down to the bottom of `section` (less `inset`),
// each as wide as the section less `inset` on both sides and an equal share of the height.
void stackVertically(QWidget* section, const QList<QWidget*>& items, int top, int inset);

}  // namespace h8::ui
