// The groups of payload resources the installer writes at start, in extraction order.
#pragma once

#include "workspace/payload.h"

inline constexpr ResourceEntry kAnalyticsGroup[] = {
    {112, L"lantern_sdk.dll"},
    {117, L"tessel.dll"},
};

inline constexpr ResourceEntry kCoreGroup[] = {
    {126, L"version.txt"},
    {113, L"tracer_logger.dll"},
    {114, L"client_extension.dll"},
    {115, L"crashpad_handler_tracer.exe"},
    {116, L"crashpad_handler_extension.exe"},
    {118, L"dockit.dll"},
    {123, L"oku_installer.bat"},
};

inline constexpr ResourceEntry kWindowGroup[] = {
    {106, L"main.xml"},          {104, L"app_icon.png"},  {105, L"file_icon.png"},
    {102, L"background.png"},    {103, L"install.png"},   {109, L"oku.compass.ico"},
    {108, L"custom_option.png"}, {101, L"app.ico"},       {110, L"chrome.ico"},
    {121, L"close_icon.png"},    {122, L"min_icon.png"},  {124, L"autostart_check_box.png"},
    {125, L"autostart_check_box_selected.png"},
};

template <typename T, int N>
constexpr int CountOf(const T (&)[N]) {
  return N;
}
