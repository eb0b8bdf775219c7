// The export for a lab's Prometheus: with RAILMON_METRICS_DIR naming a
// directory, railmon keeps railmon.prom there for node_exporter's textfile
// collector, holding what the supply last reported. The callbacks hand
// their news over with the export* calls; exportChanged passes the whole
// state to a writer beside the event loop, which replaces the file at most
// once a second, so the disk never holds up a tick.
#pragma once

#include "railmon.h"

// Start-up opens the export once the supply's state is on the panel;
// shutdown closes it last, leaving railmon_up 0 alone in the file.
void MetricsOpen(void);
void MetricsClose(void);

// What the supply reported, kept for the next write.
void exportReading(int ch, const TMI_MonitorReading& reading);
void exportSetpoints(int ch, double volts, double amps);
void exportMainOutput(int state); // -1: none reported
void exportTick();
// A channel's protection: whether it tripped, its armed levels (NaN: that
// limit is not armed) and whether it trips on CC.
void exportProtection(int ch, bool tripped, double voltageLevel, double currentLevel, bool ccArmed);

// Hands the newest state to the writer, if there is an export, and shows
// the export's status field.
void exportChanged();
