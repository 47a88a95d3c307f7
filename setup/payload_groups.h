// The groups of payload resources the installer writes at start, in extraction order.
#pragma once

#include "resources/payload_ids.h"
#include "workspace/payload.h"

inline constexpr ResourceEntry kAnalyticsGroup[] = {
    payload::kLanternSdkDll,
    payload::kTesselDll,
};

inline constexpr ResourceEntry kCoreGroup[] = {
    payload::kVersionTxt,
    payload::kTracerLoggerDll,
    payload::kClientExtensionDll,
    payload::kCrashpadHandlerTracerExe,
    payload::kCrashpadHandlerExtensionExe,
    payload::kDockitDll,
    payload::kOkuInstallerBat,
};

inline constexpr ResourceEntry kWindowGroup[] = {
    payload::kMainXml,          payload::kAppIconPng,
    payload::kFileIconPng,      payload::kBackgroundPng,
    payload::kInstallPng,       payload::kOkuCompassIco,
    payload::kCustomOptionPng,  payload::kAppIco,
    payload::kChromeIco,        payload::kCloseIconPng,
    payload::kMinIconPng,       payload::kAutostartCheckBoxPng,
    payload::kAutostartCheckBoxSelectedPng,
};
