#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Starts one of the controller's programs (zef400-fwupdate, zef400-node) for a test: this
// build's own, or, when ZEF400_TARGET_RUNNER is set, the target build's from
// ZEF400_TARGET_BIN_DIR through that command. So the PC's tests, with the PC's simulator, drive
// the controller's 32-bit ARM programs under an emulator:
//   ZEF400_TARGET_RUNNER="qemu-arm -L /" ZEF400_TARGET_BIN_DIR=build-armhf/bin ctest ...
void startTargetProgram(QProcess& process, const QString& name, const QStringList& arguments);
