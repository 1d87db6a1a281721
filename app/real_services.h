// The dialog's services bound to the real transport, discovery and engine.
#pragma once

#include "app/update_dialog.h"

DialogServices RealDialogServices();
