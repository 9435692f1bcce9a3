#include "emulated/umockdev/usbfs_device.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstddef>
#include <deque>
#include <mutex>

#include "emulated/emulated_h8.h"

namespace h8::emulated {
namespace {

// A submitted URB and the connection (one per open file descriptor) it came from: like the
// kernel, a descriptor reaps only its own URBs.
struct Urb {
    UMockdevIoctlClient* client;
    UMockdevIoctlData* data;  // owned reference; data->client_addr is the caller's URB pointer

    usbdevfs_urb* urb() const { return reinterpret_cast<usbdevfs_urb*>(data->data); }
};

struct State {
    mutable std::mutex mutex;
    EmulatedH8* model = nullptr;
    bool connected = false;
    unsigned urbCount = 0;
    std::deque<Urb> inFlight;  // accepted, not answered (the device does not respond)
    std::deque<Urb> done;      // completed, waiting to be reaped
    UsbfsDevice::RequestHook hook;

    void disconnect() {
        connected = false;
        while (!inFlight.empty()) {
            const Urb urb = inFlight.front();
            inFlight.pop_front();
            complete(urb, -ESHUTDOWN);
        }
    }

    void complete(Urb urb, int status) {
        urb.urb()->status = status;
        if (status != 0) urb.urb()->actual_length = 0;
        done.push_back(urb);
    }
};

// The GObject that umockdev calls. Its C++ state lives behind a pointer because GObject
// allocates instances without running constructors.
struct Handler {
    UMockdevIoctlBase parent;
    State* state;
};

struct HandlerClass {
    UMockdevIoctlBaseClass parent;
};

gpointer handlerParentClass = nullptr;

State& stateOf(UMockdevIoctlBase* base) {
    return *reinterpret_cast<Handler*>(base)->state;
}

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

int urbStatusFor(int modelStatus) {
    return modelStatus == kUsbErrorPipe ? -EPIPE : -EIO;
}

void finish(UMockdevIoctlClient* client, int error) {
    umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
}

int submitUrb(State& state, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    GError* error = nullptr;
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
    if (data == nullptr) {
        g_clear_error(&error);
        return EFAULT;
    }
    Urb urb{client, data};
    EmulatedH8* model = nullptr;
    {
        std::lock_guard lock(state.mutex);
        if (!state.connected) {
            g_object_unref(data);
            return ENODEV;
        }
        model = state.model;
    }
    // Only control transfers on endpoint 0 exist on this device.
    if (urb.urb()->type != USBDEVFS_URB_TYPE_CONTROL || urb.urb()->endpoint != 0 ||
        urb.urb()->buffer_length < 8) {
        g_object_unref(data);
        return EINVAL;
    }
    // Replaces the caller's buffer address by a local copy, written back when the URB is reaped.
    g_autoptr(UMockdevIoctlData) buffer = umockdev_ioctl_data_resolve(
        data, offsetof(usbdevfs_urb, buffer), urb.urb()->buffer_length, &error);
    if (buffer == nullptr) {
        g_clear_error(&error);
        g_object_unref(data);
        return EFAULT;
    }
    const uint8_t* raw = buffer->data;
    UsbSetup setup;
    setup.requestType = raw[0];
    setup.request = raw[1];
    setup.value = le16(raw + 2);
    setup.index = le16(raw + 4);
    setup.length = le16(raw + 6);
    if (8 + setup.length > urb.urb()->buffer_length) {
        g_object_unref(data);
        return EINVAL;
    }

    // The hook and the model run outside our lock: the model may call a change listener that
    // asks the bed for state, and the hook may set a fault on the model.
    UsbfsDevice::RequestHook hook;
    {
        std::lock_guard lock(state.mutex);
        hook = state.hook;
    }
    if (hook && !hook(setup)) {
        std::lock_guard lock(state.mutex);
        state.disconnect();
        g_object_unref(data);
        return ENODEV;
    }
    const int result = model->handleControl(setup, buffer->data + 8);

    std::lock_guard lock(state.mutex);
    ++state.urbCount;
    if (result == kUsbErrorTimeout) {
        state.inFlight.push_back(urb);  // never answered; completes only when discarded
    } else if (result < 0) {
        state.complete(urb, urbStatusFor(result));
    } else {
        urb.urb()->actual_length = result;
        state.complete(urb, 0);
    }
    return 0;
}

int reapUrb(State& state, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* data = nullptr;
    {
        std::lock_guard lock(state.mutex);
        for (auto it = state.done.begin(); it != state.done.end(); ++it) {
            if (it->client == client) {
                data = it->data;
                state.done.erase(it);
                break;
            }
        }
        if (data == nullptr) return state.connected ? EAGAIN : ENODEV;
    }
    // The argument is the caller's `struct usbdevfs_urb*` variable: point it at the URB.
    GError* error = nullptr;
    g_autoptr(UMockdevIoctlData) pointer =
        umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), &error);
    if (pointer == nullptr) {
        g_clear_error(&error);
        g_object_unref(data);
        return EFAULT;
    }
    umockdev_ioctl_data_set_ptr(pointer, 0, data);
    g_object_unref(data);
    return 0;
}

int discardUrb(State& state, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    // The argument is the caller's URB pointer itself.
    const gulong address = *reinterpret_cast<const gulong*>(arg->data);
    std::lock_guard lock(state.mutex);
    for (auto it = state.inFlight.begin(); it != state.inFlight.end(); ++it) {
        if (it->client == client && it->data->client_addr == address) {
            const Urb urb = *it;
            state.inFlight.erase(it);
            state.complete(urb, -ENOENT);
            return 0;
        }
    }
    return EINVAL;  // not in flight (already completed), as the kernel answers
}

gboolean handleIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client) {
    State& state = stateOf(base);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (umockdev_ioctl_client_get_request(client)) {
        case USBDEVFS_GET_CAPABILITIES: {
            GError* error = nullptr;
            g_autoptr(UMockdevIoctlData) caps =
                umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), &error);
            if (caps == nullptr) {
                g_clear_error(&error);
                finish(client, EFAULT);
                return TRUE;
            }
            *reinterpret_cast<guint32*>(caps->data) =
                USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
            finish(client, 0);
            return TRUE;
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE:
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_SETCONFIGURATION:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESET:
        case USBDEVFS_RESETEP:
            finish(client, 0);
            return TRUE;
        case USBDEVFS_GETDRIVER:
            finish(client, ENODATA);  // no kernel driver bound
            return TRUE;
        case USBDEVFS_SUBMITURB:
            finish(client, submitUrb(state, client, arg));
            return TRUE;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            finish(client, reapUrb(state, client, arg));
            return TRUE;
        case USBDEVFS_DISCARDURB:
            finish(client, discardUrb(state, client, arg));
            return TRUE;
        default:
            finish(client, ENOTTY);
            return TRUE;
    }
}

// A closed descriptor takes its unreaped URBs with it.
void clientVanished(UMockdevIoctlBase* base, UMockdevIoctlClient* client) {
    State& state = stateOf(base);
    {
        std::lock_guard lock(state.mutex);
        for (auto* queue : {&state.inFlight, &state.done}) {
            for (auto it = queue->begin(); it != queue->end();) {
                if (it->client == client) {
                    g_object_unref(it->data);
                    it = queue->erase(it);
                } else {
                    ++it;
                }
            }
        }
    }
    auto* parent = static_cast<UMockdevIoctlBaseClass*>(handlerParentClass);
    if (parent->client_vanished != nullptr) parent->client_vanished(base, client);
}

void handlerFinalize(GObject* object) {
    State* state = reinterpret_cast<Handler*>(object)->state;
    for (auto* queue : {&state->inFlight, &state->done}) {
        for (const Urb& urb : *queue) g_object_unref(urb.data);
    }
    delete state;
    G_OBJECT_CLASS(handlerParentClass)->finalize(object);
}

void handlerClassInit(gpointer klass, gpointer) {
    handlerParentClass = g_type_class_peek_parent(klass);
    G_OBJECT_CLASS(klass)->finalize = handlerFinalize;
    auto* ioctlClass = static_cast<UMockdevIoctlBaseClass*>(klass);
    ioctlClass->handle_ioctl = handleIoctl;
    ioctlClass->client_vanished = clientVanished;
}

void handlerInit(GTypeInstance* instance, gpointer) {
    reinterpret_cast<Handler*>(instance)->state = new State;
}

GType handlerType() {
    static gsize type = 0;
    if (g_once_init_enter(&type)) {
        const GType registered = g_type_register_static_simple(
            UMOCKDEV_TYPE_IOCTL_BASE, g_intern_static_string("H8UsbfsDevice"), sizeof(HandlerClass),
            handlerClassInit, sizeof(Handler), handlerInit, GTypeFlags{});
        g_once_init_leave(&type, registered);
    }
    return type;
}

}  // namespace

UsbfsDevice::UsbfsDevice()
    : handler_(static_cast<UMockdevIoctlBase*>(g_object_new(handlerType(), nullptr))) {}

UsbfsDevice::~UsbfsDevice() {
    g_object_unref(handler_);
}

void UsbfsDevice::connect(EmulatedH8* model) {
    State& state = stateOf(handler_);
    std::lock_guard lock(state.mutex);
    state.model = model;
    state.connected = true;
}

void UsbfsDevice::disconnect() {
    State& state = stateOf(handler_);
    std::lock_guard lock(state.mutex);
    state.disconnect();
}

void UsbfsDevice::setRequestHook(RequestHook hook) {
    State& state = stateOf(handler_);
    std::lock_guard lock(state.mutex);
    state.hook = std::move(hook);
}

unsigned UsbfsDevice::urbCount() const {
    State& state = stateOf(handler_);
    std::lock_guard lock(state.mutex);
    return state.urbCount;
}

}  // namespace h8::emulated
