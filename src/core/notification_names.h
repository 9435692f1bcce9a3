// Names of the notifications that the parts of the program exchange on the default
// notification center.
#pragma once

namespace h8::notify {

inline constexpr const char* kRawDeviceAdded = "rawDeviceAdded";  // user info "uid"
inline constexpr const char* kRawDeviceRemoved = "rawDeviceRemoved";
inline constexpr const char* kDeviceListChanged = "SimplyCoreAudio.deviceListChanged";
inline constexpr const char* kInitFinish = "initFinish";
inline constexpr const char* kChangeSampleRate = "changeSampeRate";
inline constexpr const char* kDropZoneAddDrag = "dropZoneAddDragName";
inline constexpr const char* kDropZoneRemoveDrag = "dropZoneRemoveDragName";
inline constexpr const char* kGridViewBtnIsOn = "gridViewBtnIsOnName";
inline constexpr const char* kIndexQuoteAddition = "indexQuoteAdditionName";
inline constexpr const char* kIndexQuoteSubtraction = "indexQuoteSubtractionName";
inline constexpr const char* kMouseEnteredChannelLabel = "mouseEnteredChannelLabel";
inline constexpr const char* kMouseExitedChannelLabel = "mouseExitedChannelLabel";
inline constexpr const char* kEntranceFileSuccess = "entranceFileSuccesName";
inline constexpr const char* kLeftBtnClick = "leftBtnClickName";
inline constexpr const char* kRightBtnClick = "rightBtnClickName";

}  // namespace h8::notify
