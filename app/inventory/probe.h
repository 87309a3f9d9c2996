// /probe: what an initialised driver supports, reported instead of running it: the
// common sample rates, its clock sources, its legal buffer sizes (and whether it really
// creates buffers of the smallest and the largest), every channel's group, the optional
// features its `future` answers to, what it asks the host, and the output-ready notice.
#pragma once

#include "app/measured/measuringBP.h"
#include "app/measured/runJson.h"
#include "app/measured/switchProbe.h"
#include "asio/telAsioDriver.h"

// The driver is initialised with buffers and `processor` (which counts the driver's
// messages into `probe`) is attached. Leaves the driver without buffers.
void probeDriver(telAsioDriver& driver, measuringBP& processor, switchProbe& probe, runJson& json);
