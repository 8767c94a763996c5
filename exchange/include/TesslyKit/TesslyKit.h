#pragma once
// TesslyKit: the records exchanged between the Tessly sensor agent and a main application, their
// JSON form, and the shared-container file exchange.

#include <TesslyKit/PayloadStatus.h>
#include <TesslyKit/Records.h>
#include <TesslyKit/RecordsJSON.h>
#include <TesslyKit/SensorBridge.h>
#include <TesslyKit/SharedContainer.h>
