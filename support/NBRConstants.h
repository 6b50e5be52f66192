#pragma once

// The names every deliverable shares: files, preference keys and defaults, controller types,
// Darwin notifications and the messaging center. Nothing here needs the support library, so
// the pairing tool includes this header without linking it.

#include <chrono>
#include <cstdint>

// Files
inline constexpr const char *NBRPreferencesPath =
    "/var/mobile/Library/Preferences/com.tesmar.nimbrel.plist";
inline constexpr const char *NBRPreferencesDirectory = "/var/mobile/Library/Preferences/";
inline constexpr const char *NBRPreferencesFileName = "com.tesmar.nimbrel.plist";
inline constexpr const char *NBRPreferencesDomain = "com.tesmar.nimbrel";
inline constexpr const char *NBRDiscoveryToolPath = "/usr/bin/nbrdiscovery";
inline constexpr const char *NBRControlSocketPath = "/tmp/nbrcontrol.sock";
// The web page with the PS3 pairing instructions, for a device that cannot send mail.

// Preference keys
inline constexpr const char *NBRBluetoothAddressKey = "PS4BluetoothAddress";
inline constexpr const char *NBRControllerTypeKey = "ControllerType";
inline constexpr const char *NBRSuppressNotificationKey = "ShouldSuppressNotification";
inline constexpr const char *NBRAmbientColorKey = "NBRAmbientColorKey";
inline constexpr const char *NBRLEDColorKey = "NBRLEDColorKey";
inline constexpr const char *NBRForceExtendedGamepadKey = "NBRForceExtendedGamepad";
inline constexpr const char *NBRKeyboardKeymapKey = "NBRKeyboardKeymapKey";
// Read by the page through its specifier ("connection_mode"), whose key is this one.
inline constexpr const char *NBRConnectionModeKey = "NBRConnectionMode";
inline constexpr std::size_t NBRBluetoothAddressLength = 6;

// Controller types ("ControllerType")
enum NBRControllerType : std::int32_t {
    NBRControllerTypePS3 = 0,
    NBRControllerTypeDualShock4 = 1,
    NBRControllerTypeSyncButton = 2,
    NBRControllerTypeXHome = 3,
    NBRControllerTypeXHome4 = 4,
    NBRControllerTypeXHome5 = 5,
    NBRControllerTypeKeyboard = 6,
};
inline constexpr std::int32_t NBRDefaultControllerType = NBRControllerTypePS3;

// Button natives: the gamepad controls a keymap entry drives. "NBRKeyboardKeymapKey" maps a key
// code (a USB HID keyboard usage, as a decimal string) to one of these; the controller daemon
// shares the numbering.
enum NBRButtonNative : std::int32_t {
    NBRButtonNativeDpadRight = 1,
    NBRButtonNativeDpadLeft = 2,
    NBRButtonNativeDpadUp = 3,
    NBRButtonNativeDpadDown = 4,
    NBRButtonNativeA = 5,
    NBRButtonNativeB = 6,
    NBRButtonNativeX = 7,
    NBRButtonNativeY = 8,
    NBRButtonNativeL1 = 9,
    NBRButtonNativeR1 = 10,
    NBRButtonNativeLeftStickRight = 11,
    NBRButtonNativeLeftStickLeft = 12,
    NBRButtonNativeLeftStickUp = 13,
    NBRButtonNativeLeftStickDown = 14,
    NBRButtonNativeRightStickRight = 15,
    NBRButtonNativeRightStickLeft = 16,
    NBRButtonNativeRightStickUp = 17,
    NBRButtonNativeRightStickDown = 18,
    NBRButtonNativeL2 = 19,
    NBRButtonNativeR2 = 20,
    NBRButtonNativePause = 21,
};

// The keymap in force while the preferences file holds none: key code (USB HID usage) and the
// control it drives. The editor shows it and the controller daemon plays it.
struct NBRKeyBinding {
    std::int64_t keyCode;
    NBRButtonNative control;
};
inline constexpr NBRKeyBinding NBRDefaultKeymap[] = {
    {26, NBRButtonNativeDpadUp}, {4, NBRButtonNativeDpadLeft}, {22, NBRButtonNativeDpadDown},
    {7, NBRButtonNativeDpadRight}, {12, NBRButtonNativeY},    {13, NBRButtonNativeX},
    {14, NBRButtonNativeA},      {15, NBRButtonNativeB},       {31, NBRButtonNativeL1},
    {37, NBRButtonNativeR1},     {41, NBRButtonNativePause},
};

// Darwin notifications
inline constexpr const char *NBRPreferencesChangedNotification = "com.tesmar.nbrprefs.changed";
inline constexpr const char *NBRSearchingNotification = "com.tesmar.nbr.searching";
inline constexpr const char *NBRControllerDetectedNotification =
    "com.tesmar.nbr.controllerdetected";
inline constexpr const char *NBRInitBluetoothNotification = "com.tesmar.nbrinitbt";
inline constexpr const char *NBRDisconnectedNotification = "com.tesmar.nbrdisconnected";
inline constexpr const char *NBRFailureNotification = "com.tesmar.nbrfailure";

// Distributed messaging
inline constexpr const char *NBRMessagingCenterName = "com.tesmar.nbr.bootstrap";
inline constexpr const char *NBRDiscoveryUpdateMessage = "NBRDiscoveryUpdate";
inline constexpr const char *NBRDiscoveryStateKey = "NBRDiscoveryState";

// Progress of the pairing tool ("NBRDiscoveryState" of "NBRDiscoveryUpdate").
enum NBRDiscoveryProgress : std::uint32_t {
    NBRDiscoveryProgressSearching = 0,
    NBRDiscoveryProgressSearchEnded = 1,
    NBRDiscoveryProgressPaired = 2,
    NBRDiscoveryProgressBluetoothInactive = 3,
    NBRDiscoveryProgressSearchStarted = 4,
};

// Control socket receive time-outs
inline constexpr std::chrono::milliseconds NBRStatusQueryTimeout{1000};
inline constexpr std::chrono::milliseconds NBRConnectTimeout{20000};

// A dragged colour reaches the light bar at most once per interval: the colour picker spaces its
// announcements by it and the settings page its sends.
inline constexpr std::chrono::microseconds NBRLiveColorInterval{66666};

// Exported string constants (their values: "004EFD" and "NBRKeymapCellID").
extern "C" const char *const NBRDefaultLEDColor;
extern "C" const char *const NBRKeymapCellID;

// Specifier identifiers of the settings page (the page description uses the first three)
inline constexpr const char *NBRControllerTypeSpecifierID = "controller_type";
inline constexpr const char *NBRConnectionModeSpecifierID = "connection_mode";
inline constexpr const char *NBRPairSpecifierID = "pair_label";
inline constexpr const char *NBRDS4GroupID = "NBRDS4GroupID";
inline constexpr const char *NBRAmbientColorID = "NBRAmbientColorID";
inline constexpr const char *NBRLEDColorID = "NBRLEDColorID";
inline constexpr const char *NBRConnectID = "NBRConnectID";
inline constexpr const char *NBRForceExtendedSpecifierID = "force_extended";
inline constexpr std::int32_t NBRConnectionModeManual = 1;
