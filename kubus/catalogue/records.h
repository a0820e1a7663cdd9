#pragma once

// Every record of the Kubus catalogue: the hand-written ones and those generated from
// kubus/catalogue/catalogue.table.

#include "kubus/catalogue/measuredrecords.h"
#include "kubus/catalogue/onewayrecords.h"
#include "kubus/catalogue/requestrecords.h"
#include "kubus/records/amplfrqtable.h"
#include "kubus/records/amplfrqtablechecksum.h"
#include "kubus/records/amplfrqtablepartdata.h"
#include "kubus/records/candeviceinfo.h"
#include "kubus/records/deviceinfo.h"
#include "kubus/records/deviceinfoboard.h"
#include "kubus/records/deviceinfopoweramplifier.h"
#include "kubus/records/deviceinfopowersupply.h"
#include "kubus/records/deviceinfoversion.h"
#include "kubus/records/firmwareupdateinfo.h"
#include "kubus/records/measuredvalues.h"
#include "kubus/records/nodeid.h"
#include "kubus/records/nodeinfo.h"
#include "kubus/records/responseheader.h"
#include "kubus/request/requestinfo.h"
#include "kubus/request/requestinfoof.h"
