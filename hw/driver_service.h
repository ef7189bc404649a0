// The administrator check and the driver service of the NT family.
//
// For now these are the least that lets the program run its NT road honestly: the check reads
// the token's groups, the channel open only opens the device (it does not yet register or start
// the driver service), and the removal only closes the channel.
#pragma once

#include <windows.h>

// Non-zero when the user's token holds the Administrators group.
int CheckAdministratorMembership();

// Opens the device ZYNDRV into `channel`. 0 when it failed before it reached the service control
// manager; otherwise 1, also when the open failed and `channel` holds the invalid handle (the
// probe request then fails).
int OpenDriverChannel(HANDLE& channel);

// Closes the channel (and, once the service is managed here, stops and deletes it).
void RemoveDriverService(HANDLE& channel);
