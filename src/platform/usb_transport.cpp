#include "platform/usb_transport.h"

namespace h8 {

const char* usbStatusName(int status) {
    if (status >= 0) return "LIBUSB_SUCCESS";
    switch (status) {
        case kUsbErrorIo:
            return "LIBUSB_ERROR_IO";
        case kUsbErrorInvalidParam:
            return "LIBUSB_ERROR_INVALID_PARAM";
        case kUsbErrorAccess:
            return "LIBUSB_ERROR_ACCESS";
        case kUsbErrorNoDevice:
            return "LIBUSB_ERROR_NO_DEVICE";
        case kUsbErrorNotFound:
            return "LIBUSB_ERROR_NOT_FOUND";
        case kUsbErrorBusy:
            return "LIBUSB_ERROR_BUSY";
        case kUsbErrorTimeout:
            return "LIBUSB_ERROR_TIMEOUT";
        case kUsbErrorOverflow:
            return "LIBUSB_ERROR_OVERFLOW";
        case kUsbErrorPipe:
            return "LIBUSB_ERROR_PIPE";
        case kUsbErrorInterrupted:
            return "LIBUSB_ERROR_INTERRUPTED";
        case kUsbErrorNoMem:
            return "LIBUSB_ERROR_NO_MEM";
        case kUsbErrorNotSupported:
            return "LIBUSB_ERROR_NOT_SUPPORTED";
        case kUsbErrorOther:
            return "LIBUSB_ERROR_OTHER";
        default:
            return "**UNKNOWN**";  // what libusb_error_name() says for a code it does not know
    }
}

}  // namespace h8
