// Where the structure table lies in what a stand-in was given: a table file (a dump that starts
// with an `_SM_`, `_SM3_` or `_DMI_` entry point, or a raw structure table) or the firmware's raw
// SMBIOS data as the system reports it ('RSMB'). The reading is dmiread's too, so that the same
// file gets the same answer from both: it lives in dmi/smbios_dump.h, freestanding.
#pragma once

#include "dmi/smbios_dump.h"

namespace standin {

using smbios::CountStructures;
using smbios::DescribeTableProblem;
using smbios::LargestStructure;
using smbios::ReadFirmwareTable;
using smbios::ReadTableFile;
using smbios::TableImage;
using smbios::TableProblem;

}  // namespace standin
