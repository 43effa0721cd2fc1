#pragma once

// The HID device layer and its controller.
#include "link/hid_device.h"
#include "link/hid_device_controller.h"
#include "link/hid_platform.h"
