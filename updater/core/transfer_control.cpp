#include "transfer_control.h"
