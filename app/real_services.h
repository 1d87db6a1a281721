// The dialog's services bound to the real engine and the transport the front end chose.
#pragma once

#include "app/update_dialog.h"

DialogServices RealDialogServices(DriveTransport& transport);
