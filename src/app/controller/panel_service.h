// The panel on the session bus. On the panel's object it serves
// org.h8controller.H8Controller1 (the interface's state as properties, with PropertiesChanged,
// and the edits as methods), org.freedesktop.Application (a second start brings the window
// forward) and, for a demo, org.h8controller.H8Controller1.Emulated (the emulated H8's
// physical controls). docs/dbus.md describes them; the introspection XML in packaging/dbus is
// their contract.
//
// A change from the bus is one more caller of the calls the window's own controls use (the
// routing model, the hardware monitor, the sample-rate menu, the preset import, the undo
// history): it sends what a click sends, shows in the window at once, is stored, and is one
// undo step. Arguments are checked before anything is sent; a call that cannot be done gets a
// named error and changes nothing. Main thread only.
#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QPointer>
#include <QVariantMap>
#include <optional>

#include "app/common/target.h"

namespace h8 {

class AppDelegate;
class ViewController;
namespace emulated {
class EmulatedH8;
}

// One entry of the Routes property: a route that is on, with its level (0-100).
struct BusRoute {
    uint source = 0;       // 1-12
    uint destination = 0;  // 1-12
    double level = 0;
    bool operator==(const BusRoute&) const = default;
};
using BusRouteList = QList<BusRoute>;
QDBusArgument& operator<<(QDBusArgument& argument, const BusRoute& route);
const QDBusArgument& operator>>(const QDBusArgument& argument, BusRoute& route);

// Why a method call was refused: a D-Bus error name (bus::kError...) and its message.
struct BusError {
    const char* name;
    QString message;
};
using BusResult = std::optional<BusError>;  // nothing: done

class PanelService : public QObject {
    Q_OBJECT
public:
    PanelService(QDBusConnection bus, Target target, QObject* parent = nullptr);
    ~PanelService() override;

    // Puts the object with its interfaces on the connection; done before the name is claimed,
    // so that whoever sees the name finds the object. Calls are handled once the event loop
    // runs.
    bool registerObject(QString* error);
    // The window the interfaces speak for, and the emulated H8 of a demo (else null). Until
    // then the properties are those of a panel with no H8 and every edit is refused.
    void attach(AppDelegate* window, emulated::EmulatedH8* model);

    QDBusConnection connection() const { return bus_; }
    const Target& target() const { return target_; }

    // The current value of a property of org.h8controller.H8Controller1, and all of them.
    QVariant value(const char* name) const;
    QVariantMap properties() const;
    // value() for a client on the bus: with the window hidden (no poll running) the hardware
    // state is read from the interface first, at most twice a second.
    QVariant valueForClient(const char* name);

    // ---- the methods ----
    BusResult setRoute(uint source, uint destination, bool on);
    BusResult setLevel(uint source, uint destination, double level);
    BusResult setMute(const QString& target, bool muted);
    BusResult setOtgVolume(uint percent);
    BusResult setSampleRate(uint rate);
    BusResult importPreset(const QString& path);
    BusResult exportPreset(const QString& path);
    BusResult undo();
    BusResult redo();
    BusResult refresh();
    BusResult inputLevels(QList<double>* levels);
    BusResult setEmulatedControl(const QString& control, const QString& value);
    void showWindow(const QString& token);

    // Emits PropertiesChanged for what changed since the last time (also called on its own,
    // once per turn of the event loop, after the panel's state changed).
    void announce();

signals:
    // The same changes for the panel's own followers (the tray icon), with or without a bus.
    void propertiesChanged(const QVariantMap& changed);

private:
    ViewController* controller() const;
    BusResult needBound() const;
    // After a method's edit: one undo step of its own, and the change announced.
    void finishEdit();
    void scheduleAnnounce();

    QDBusConnection bus_;
    Target target_;
    QPointer<AppDelegate> window_;
    emulated::EmulatedH8* model_ = nullptr;
    QVariantMap announced_;
    bool announceQueued_ = false;
};

// org.h8controller.H8Controller1: the properties read through the service, the methods reply
// with its errors.
class H8ControllerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.h8controller.H8Controller1")
    Q_PROPERTY(bool Bound READ bound)
    Q_PROPERTY(QString Name READ name)
    Q_PROPERTY(QString Serial READ serial)
    Q_PROPERTY(QString Firmware READ firmware)
    Q_PROPERTY(qlonglong FirmwareCode READ firmwareCode)
    Q_PROPERTY(uint SampleRate READ sampleRate)
    Q_PROPERTY(QList<uint> SampleRates READ sampleRates)
    Q_PROPERTY(h8::BusRouteList Routes READ routes)
    Q_PROPERTY(bool Input1Muted READ input1Muted)
    Q_PROPERTY(bool Input2Muted READ input2Muted)
    Q_PROPERTY(bool HeadphonesMuted READ headphonesMuted)
    Q_PROPERTY(uint OtgVolume READ otgVolume)
    Q_PROPERTY(double Input1Gain READ input1Gain)
    Q_PROPERTY(double Input2Gain READ input2Gain)
    Q_PROPERTY(bool Phantom1 READ phantom1)
    Q_PROPERTY(bool Phantom2 READ phantom2)
    Q_PROPERTY(bool Instrument1 READ instrument1)
    Q_PROPERTY(bool Instrument2 READ instrument2)
    Q_PROPERTY(uint InputType1 READ inputType1)
    Q_PROPERTY(uint InputType2 READ inputType2)
    Q_PROPERTY(double HeadphoneLevel READ headphoneLevel)
    Q_PROPERTY(bool OtgConnected READ otgConnected)
    Q_PROPERTY(bool CanUndo READ canUndo)
    Q_PROPERTY(bool CanRedo READ canRedo)
public:
    explicit H8ControllerAdaptor(PanelService* service);

    bool bound() const { return get("Bound").toBool(); }
    QString name() const { return get("Name").toString(); }
    QString serial() const { return get("Serial").toString(); }
    QString firmware() const { return get("Firmware").toString(); }
    qlonglong firmwareCode() const { return get("FirmwareCode").toLongLong(); }
    uint sampleRate() const { return get("SampleRate").toUInt(); }
    QList<uint> sampleRates() const { return get("SampleRates").value<QList<uint>>(); }
    BusRouteList routes() const { return get("Routes").value<BusRouteList>(); }
    bool input1Muted() const { return get("Input1Muted").toBool(); }
    bool input2Muted() const { return get("Input2Muted").toBool(); }
    bool headphonesMuted() const { return get("HeadphonesMuted").toBool(); }
    uint otgVolume() const { return get("OtgVolume").toUInt(); }
    double input1Gain() const { return get("Input1Gain").toDouble(); }
    double input2Gain() const { return get("Input2Gain").toDouble(); }
    bool phantom1() const { return get("Phantom1").toBool(); }
    bool phantom2() const { return get("Phantom2").toBool(); }
    bool instrument1() const { return get("Instrument1").toBool(); }
    bool instrument2() const { return get("Instrument2").toBool(); }
    uint inputType1() const { return get("InputType1").toUInt(); }
    uint inputType2() const { return get("InputType2").toUInt(); }
    double headphoneLevel() const { return get("HeadphoneLevel").toDouble(); }
    bool otgConnected() const { return get("OtgConnected").toBool(); }
    bool canUndo() const { return get("CanUndo").toBool(); }
    bool canRedo() const { return get("CanRedo").toBool(); }

public slots:
    void SetRoute(uint source, uint destination, bool on, const QDBusMessage& message);
    void SetLevel(uint source, uint destination, double level, const QDBusMessage& message);
    void SetMute(const QString& target, bool muted, const QDBusMessage& message);
    void SetOtgVolume(uint percent, const QDBusMessage& message);
    void SetSampleRate(uint rate, const QDBusMessage& message);
    void ImportPreset(const QString& path, const QDBusMessage& message);
    void ExportPreset(const QString& path, const QDBusMessage& message);
    void Undo(const QDBusMessage& message);
    void Redo(const QDBusMessage& message);
    void Refresh(const QDBusMessage& message);
    QList<double> GetInputLevels(const QDBusMessage& message);
    void ShowWindow();

private:
    // A client's read: while nobody sees the window the hardware state is read for it first.
    QVariant get(const char* property) const { return service_->valueForClient(property); }
    void reply(const QDBusMessage& message, const BusResult& result);

    PanelService* service_;
};

// org.h8controller.H8Controller1.Emulated, on a demo panel only.
class EmulatedH8Adaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.h8controller.H8Controller1.Emulated")
    Q_PROPERTY(QString StateFile READ stateFile)
public:
    explicit EmulatedH8Adaptor(PanelService* service);
    QString stateFile() const { return service_->target().stateFile(); }

public slots:
    void SetControl(const QString& control, const QString& value, const QDBusMessage& message);

private:
    PanelService* service_;
};

}  // namespace h8

Q_DECLARE_METATYPE(h8::BusRoute)
Q_DECLARE_METATYPE(h8::BusRouteList)
