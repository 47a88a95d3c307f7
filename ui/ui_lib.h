// The window toolkit subset in one include: controls, paint manager, builder, window base.
#pragma once

#include "ui/controls.h"
#include "ui/dialog_builder.h"
#include "ui/paint_manager.h"
#include "ui/portable/markup.h"
#include "ui/ui_defs.h"
#include "ui/window_base.h"
