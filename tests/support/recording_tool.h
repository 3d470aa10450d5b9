#pragma once

#include <QByteArray>

/// An agent tool that records each call in HOME/calls; with HOME/hold it waits for HOME/release before it ends, so
/// that a run can be caught under way, and with HOME/fail-ARGUMENT it fails saying "error: ARGUMENT refused".
inline const QByteArray kRecordingTool = R"(#!/bin/sh
home=$(dirname "$0")/..
echo "$*" >> "$home/calls"
if [ -e "$home/hold" ]; then while [ ! -e "$home/release" ]; do sleep 0.02; done; fi
if [ -e "$home/fail-$1" ]; then echo "error: $1 refused"; exit 1; fi
exit 0
)";
