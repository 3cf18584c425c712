#include "updater/core/transfer_control.h"
