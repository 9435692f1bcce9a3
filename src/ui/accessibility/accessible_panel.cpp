#include "ui/accessibility/accessible_panel.h"

#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <cmath>

#include "ui/matrix/channel_row_view.h"
#include "ui/strips/level_bar.h"
#include "ui/widgets/hover_button.h"
#include "ui/widgets/lum_circular_view.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/lum_volume_vircle_view.h"

namespace h8::ui {
namespace {

// A crosspoint of the grid: a toggle button named after its route, its level as its value.
// Toggling it is a click; setting its value is what the scroll wheel does.
class CrosspointAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit CrosspointAccessible(HoverButton* b) : QAccessibleWidget(b, QAccessible::CheckBox) {}

    // The level label inside is drawn for the mouse; the value says the same.
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

    HoverButton* button() const { return static_cast<HoverButton*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override {
        const HoverButton* b = button();
        switch (t) {
            case QAccessible::Name:
                return QCoreApplication::translate("Accessibility", "%1 to %2")
                    .arg(accessibleSourceName(b->row), accessibleDestinationName(b->col));
            case QAccessible::Description:
            case QAccessible::Value:
                return b->isChecked() ? QCoreApplication::translate("Accessibility", "on, %1 %")
                                            .arg(std::lround(b->volume))
                                      : QCoreApplication::translate("Accessibility", "off");
            default:
                return QAccessibleWidget::text(t);
        }
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->isChecked();
        return s;
    }
    QStringList actionNames() const override {
        return QStringList{toggleAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == toggleAction() || name == pressAction()) {
            // As a click of the mouse: the button's own clicked signal drives the grid.
            button()->click();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

    QVariant currentValue() const override { return static_cast<double>(button()->volume); }
    void setCurrentValue(const QVariant& value) override {
        HoverButton* b = button();
        // The wheel changes the level of a route that is on, and only then.
        if (!b->isChecked() || !b->applyVolume) return;
        b->volume = std::clamp(value.toFloat(), 0.0f, 100.0f);
        b->applyVolume(b);
    }
    QVariant maximumValue() const override { return 100.0; }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return 1.0; }
};

// A route chip of the stacked view: named after its route; its "remove" action removes the
// route as a double-click does.
class ChipAccessible : public QAccessibleWidget {
public:
    explicit ChipAccessible(LumLabel* chip) : QAccessibleWidget(chip, QAccessible::Button) {}

    static QString removeAction() { return QStringLiteral("remove"); }

    LumLabel* chip() const { return static_cast<LumLabel*>(widget()); }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            return QCoreApplication::translate("Accessibility", "%1 to %2")
                .arg(accessibleSourceName(chip()->actRowIndex),
                     accessibleDestinationName(chip()->actColIndex));
        }
        if (t == QAccessible::Description)
            return QCoreApplication::translate("Accessibility", "route");
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override {
        return QStringList{removeAction()} + QAccessibleWidget::actionNames();
    }
    QString localizedActionName(const QString& name) const override {
        if (name == removeAction()) return QCoreApplication::translate("Accessibility", "Remove");
        return QAccessibleWidget::localizedActionName(name);
    }
    QString localizedActionDescription(const QString& name) const override {
        if (name == removeAction())
            return QCoreApplication::translate("Accessibility", "Removes the route");
        return QAccessibleWidget::localizedActionDescription(name);
    }
    void doAction(const QString& name) override {
        if (name != removeAction()) {
            QAccessibleWidget::doAction(name);
            return;
        }
        // The removal rebuilds the row and deletes this chip: done after the screen reader's
        // call has returned.
        LumLabel* label = chip();
        QMetaObject::invokeMethod(
            label,
            [label] {
                if (label->labelDoubleClick) label->labelDoubleClick(label);
            },
            Qt::QueuedConnection);
    }
};

// A knob: a dial whose value is its level in steps (the number it shows). Its name comes from
// the panel that places it ("Mic In 1 gain").
template <typename Knob>
class KnobAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit KnobAccessible(Knob* knob) : QAccessibleWidget(knob, QAccessible::Dial) {}

    // The number drawn inside is the value.
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

    const Knob* knob() const { return static_cast<const Knob*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return QString::number(knob()->reportedLevel());
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return knob()->reportedLevel(); }
    // Read only: the knob's level is what the interface reports; changes go through the
    // knob's own keys and wheel.
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return knob()->avgCount; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }
};

// A level meter: a progress bar whose value is the level in dB. Its name comes from the panel
// ("OTG In 3 level").
class MeterAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    static constexpr double kFloorDb = -90;

    explicit MeterAccessible(LevelBar* bar) : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    const LevelBar* bar() const { return static_cast<const LevelBar*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value || t == QAccessible::Description)
            return accessibleLevelText(bar()->level());
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }
    QVariant currentValue() const override {
        const double level = bar()->level();
        return level > 0 ? std::max(kFloorDb, std::round(20 * std::log10(level))) : kFloorDb;
    }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return 0.0; }
    QVariant minimumValue() const override { return kFloorDb; }
    QVariant minimumStepSize() const override { return 1.0; }
};

}  // namespace

QString accessibleSourceName(int row) {
    if (row == 1 || row == 2)
        return QCoreApplication::translate("Accessibility", "Mic/Line %1").arg(row);
    if (row == 3 || row == 4)
        return QCoreApplication::translate("Accessibility", "OTG In %1").arg(row);
    if (row >= 5 && row <= 12)
        return QCoreApplication::translate("Accessibility", "Playback %1").arg(row - 4);
    return QString();
}

QString accessibleDestinationName(int col) {
    if (col == 1 || col == 2) return QCoreApplication::translate("Accessibility", "HP %1").arg(col);
    if (col == 3 || col == 4)
        return QCoreApplication::translate("Accessibility", "OTG Out %1").arg(col);
    if (col >= 5 && col <= 12)
        return QCoreApplication::translate("Accessibility", "Mixer In %1").arg(col - 4);
    return QString();
}

QString accessibleLevelText(double level) {
    if (!(level > 0)) return QCoreApplication::translate("Accessibility", "silent");
    const long db = std::lround(std::max(MeterAccessible::kFloorDb, 20 * std::log10(level)));
    return QCoreApplication::translate("Accessibility", "%1 dB").arg(db);
}

QAccessibleInterface* accessibleInterfaceFor(const QString& className, QObject* object) {
    if (className == QLatin1String("h8::ui::HoverButton"))
        return new CrosspointAccessible(static_cast<HoverButton*>(object));
    if (className == QLatin1String("h8::ui::LumLabel")) {
        auto* label = static_cast<LumLabel*>(object);
        // Only the chips of a destination row; other labels are plain labels.
        if (label->canDrag && qobject_cast<ChannelRowView*>(label->parent()))
            return new ChipAccessible(label);
        return nullptr;
    }
    if (className == QLatin1String("h8::ui::LumCircularView"))
        return new KnobAccessible<LumCircularView>(static_cast<LumCircularView*>(object));
    if (className == QLatin1String("h8::ui::LumVolumeVircleView"))
        return new KnobAccessible<LumVolumeVircleView>(static_cast<LumVolumeVircleView*>(object));
    if (className == QLatin1String("h8::ui::LevelBar"))
        return new MeterAccessible(static_cast<LevelBar*>(object));
    if (className == QLatin1String("h8::ui::NorvBottomView"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::StatusBar,
                                     QCoreApplication::translate("Accessibility", "Status"));
    return nullptr;
}

void installAccessibleInterfaces() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    QAccessible::installFactory(&accessibleInterfaceFor);
}

}  // namespace h8::ui
