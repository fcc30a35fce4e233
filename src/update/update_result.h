#pragma once
// What the window's last command came to, as the procedure itself knows it. Hosts that
// report more than the window shows (cvm6-flash's exit status) read it here instead of
// reading the texts of the message boxes.
namespace cvm6 {

enum class UpdateResult {
  kNone,                // no command has ended yet
  kPortNotOpened,       // the port did not open
  kPortUnusable,        // it opened but cannot serve as a serial line
  kDeviceNotFound,      // no unit appeared within the limit
  kConnected,           // online and identified
  kNotIdentified,       // online, but the unit never answered the device data request
  kWrongDevice,         // the unit is of another type; nothing was sent
  kCancelled,           // nothing was written: no device chosen, or the image not confirmed
  kNoImage,             // there was no image to write; nothing was sent
  kImageRefused,        // the image could not be read whole; nothing was sent
  kDownloadFailed,      // the download failed after the erase request went out
  kCommunicationError,  // a failure code of the layers below ended the command
  kDone,                // the image was written and the unit's block count matched
};

}  // namespace cvm6
