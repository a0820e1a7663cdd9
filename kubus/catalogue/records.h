#pragma once

// Every record of the Kubus catalogue: the hand-written ones and those generated from
// kubus/catalogue.table.

#include "kubus/amplfrqtable.h"
#include "kubus/amplfrqtablechecksum.h"
#include "kubus/amplfrqtablepartdata.h"
#include "kubus/candeviceinfo.h"
#include "kubus/deviceinfo.h"
#include "kubus/deviceinfoboard.h"
#include "kubus/deviceinfopoweramplifier.h"
#include "kubus/deviceinfopowersupply.h"
#include "kubus/deviceinfoversion.h"
#include "kubus/firmwareupdateinfo.h"
#include "kubus/measuredrecords.h"
#include "kubus/measuredvalues.h"
#include "kubus/nodeid.h"
#include "kubus/nodeinfo.h"
#include "kubus/onewayrecords.h"
#include "kubus/requestinfo.h"
#include "kubus/requestinfoof.h"
#include "kubus/requestrecords.h"
#include "kubus/responseheader.h"
