#include "metrics_export.h"

#include "number_text.h"
#include "osfile.h"
#include "paced_worker.h"
#include "status_line.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kMetricsFileName[] = "railmon.prom";

// What the export shows of one channel. NaN: nothing the supply reported.
struct ChannelExport {
    double volts = std::nan(""), amps = std::nan("");
    int cvcc = 0;
    bool reading = false;           // the last sweep delivered one
    double readingTime = 0.0;       // [s since the epoch] of the last one delivered
    double setVolts = std::nan(""); // setpoints as the supply last confirmed them
    double setAmps = std::nan("");
    long silentSweeps = 0;
    bool tripped = false;
    double protectVolts = std::nan(""); // armed levels; NaN: not armed
    double protectAmps = std::nan("");
    bool ccTrip = false;
};
struct ExportFacts {
    ChannelExport channel[CHANNELS];
    int mainOutput = -1; // as reported; -1: none came
    int mask = 15;
    long ticks = 0;
};
ExportFacts gExport;

// Where the export goes and for which model: set once at start-up, before
// the writer starts, and only read afterwards.
std::string gMetricsDir, gMetricsModel;
bool gMetricsOn = false;

double epochSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Label values escaped as the exposition format asks.
std::string labelValue(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        if (c == '\\' || c == '"')
            escaped += '\\';
        if (c == '\n') {
            escaped += "\\n";
            continue;
        }
        escaped += c;
    }
    return escaped;
}

// The exposition text: HELP and TYPE, then one sample per series; a value
// the supply never gave has no sample at all.
std::string exposition(const ExportFacts& facts, const std::string& model, bool up)
{
    const std::string modelLabel = model.empty() ? std::string() : "model=\"" + labelValue(model) + "\"";
    std::string text;
    auto family = [&](const char* name, const char* type, const char* help) {
        text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    };
    auto sample = [&](const char* name, int ch, double value) {
        if (!std::isfinite(value))
            return;
        std::string labels = ch < 0
            ? modelLabel
            : "channel=\"" + std::string(kChannelLabels[ch]) + "\"" + (modelLabel.empty() ? "" : "," + modelLabel);
        text += std::string(name) + (labels.empty() ? "" : "{" + labels + "}") + " " + numberText(value, 15) + "\n";
    };
    family("railmon_up", "gauge", "1 while railmon runs and exports, 0 once it has stopped.");
    sample("railmon_up", -1, up ? 1 : 0);
    if (!up)
        return text;
    struct PerChannel {
        const char *name, *type, *help;
        double (*value)(const ChannelExport&, const ExportFacts&, int);
    };
    const PerChannel perChannel[] = {
        {"railmon_voltage_volts", "gauge", "Output voltage the supply last measured.",
         [](const ChannelExport& c, const ExportFacts&, int) { return c.reading ? c.volts : std::nan(""); }},
        {"railmon_current_amperes", "gauge", "Output current the supply last measured.",
         [](const ChannelExport& c, const ExportFacts&, int) { return c.reading ? c.amps : std::nan(""); }},
        {"railmon_cvcc_code", "gauge", "CV/CC code the supply reported with its last measurement, as reported.",
         [](const ChannelExport& c, const ExportFacts&, int) { return c.reading ? c.cvcc : std::nan(""); }},
        {"railmon_voltage_setpoint_volts", "gauge", "Voltage setpoint the supply last confirmed.",
         [](const ChannelExport& c, const ExportFacts&, int) { return c.setVolts; }},
        {"railmon_current_setpoint_amperes", "gauge", "Current setpoint the supply last confirmed.",
         [](const ChannelExport& c, const ExportFacts&, int) { return c.setAmps; }},
        {"railmon_channel_enabled", "gauge", "1 when railmon reads, logs and sets the channel, 0 when not.",
         [](const ChannelExport&, const ExportFacts& f, int ch) { return (f.mask >> ch) & 1 ? 1.0 : 0.0; }},
        {"railmon_last_reading_timestamp_seconds", "gauge",
         "When the supply last delivered a reading of the channel, in seconds since the epoch.",
         [](const ChannelExport& c, const ExportFacts&, int) {
             return c.readingTime > 0 ? c.readingTime : std::nan("");
         }},
        {"railmon_sweeps_without_reading_total", "counter", "Monitor sweeps of the channel that delivered no reading.",
         [](const ChannelExport& c, const ExportFacts&, int) { return static_cast<double>(c.silentSweeps); }},
        {"railmon_protection_tripped", "gauge",
         "1 when a reading of the channel tripped railmon's protection and the trip is not cleared, else 0.",
         [](const ChannelExport& c, const ExportFacts&, int) { return c.tripped ? 1.0 : 0.0; }},
        {"railmon_protection_voltage_level_volts", "gauge",
         "Armed over-voltage level of the channel, on the magnitude; no sample when not armed.",
         [](const ChannelExport& c, const ExportFacts&, int) { return c.protectVolts; }},
        {"railmon_protection_current_level_amperes", "gauge",
         "Armed over-current level of the channel, on the magnitude; no sample when not armed.",
         [](const ChannelExport& c, const ExportFacts&, int) { return c.protectAmps; }},
        {"railmon_protection_cc_trip_armed", "gauge", "1 when the channel trips on CC instead of limiting, else 0.",
         [](const ChannelExport& c, const ExportFacts&, int) { return c.ccTrip ? 1.0 : 0.0; }},
    };
    for (const PerChannel& metric : perChannel) {
        family(metric.name, metric.type, metric.help);
        for (int ch = 0; ch < CHANNELS; ++ch)
            sample(metric.name, ch, metric.value(facts.channel[ch], facts, ch));
    }
    family("railmon_main_output_state", "gauge", "Main output state the supply last reported, in its own encoding.");
    sample("railmon_main_output_state", -1, facts.mainOutput >= 0 ? facts.mainOutput : std::nan(""));
    family("railmon_ticks_total", "counter", "Timer ticks since railmon started.");
    sample("railmon_ticks_total", -1, static_cast<double>(facts.ticks));
    return text;
}

std::string metricsPath()
{
    return gMetricsDir + "/" + kMetricsFileName;
}

// Replaces railmon.prom with `text`, readable by node_exporter's user. Its
// temporary file is not named *.prom, so the collector never reads one half
// written.
bool writeMetricsFile(const std::string& text, std::string& why)
{
    return OsReplaceFile(metricsPath(), text, 0644, false, why);
}

std::string writeExport(const ExportFacts& facts)
{
    std::string why;
    return writeMetricsFile(exposition(facts, gMetricsModel, true), why) ? std::string() : why;
}

PacedWorker<ExportFacts> gMetricsWriter(writeExport, std::chrono::seconds(1));

// True while writing the export fails, so it is said once per streak.
bool gMetricsFailing = false;

void showMetricsStatus()
{
    const std::string problem = gMetricsWriter.problem();
    if (!problem.empty()) {
        if (!gMetricsFailing)
            std::printf("Cannot write %s: %s\n", metricsPath().c_str(), problem.c_str());
        gMetricsFailing = true;
        showStatus(PANEL_STATUS_EXPORT, "Metrics: cannot write " + metricsPath() + ": " + problem, VAL_ERROR_COLOR);
        return;
    }
    if (gMetricsFailing)
        std::printf("Writing %s again\n", metricsPath().c_str());
    gMetricsFailing = false;
    showStatus(PANEL_STATUS_EXPORT, "Metrics to " + metricsPath(), VAL_DEFAULT_COLOR);
}

} // namespace

void exportReading(int ch, const TMI_MonitorReading& reading)
{
    ChannelExport& c = gExport.channel[ch];
    c.reading = !TMI_NoReading(reading);
    if (!c.reading) {
        ++c.silentSweeps;
        return;
    }
    c.volts = reading.voltage;
    c.amps = reading.current;
    c.cvcc = static_cast<signed char>(reading.cv_cc);
    c.readingTime = epochSeconds();
}

void exportSetpoints(int ch, double volts, double amps)
{
    gExport.channel[ch].setVolts = volts;
    gExport.channel[ch].setAmps = amps;
}

void exportMainOutput(int state)
{
    gExport.mainOutput = state;
}

void exportProtection(int ch, bool tripped, double voltageLevel, double currentLevel, bool ccArmed)
{
    ChannelExport& c = gExport.channel[ch];
    c.tripped = tripped;
    c.protectVolts = voltageLevel;
    c.protectAmps = currentLevel;
    c.ccTrip = ccArmed;
}

void exportTick()
{
    ++gExport.ticks;
}

void exportChanged()
{
    if (!gMetricsOn)
        return;
    gExport.mask = gMask;
    gMetricsWriter.post(gExport);
    showMetricsStatus();
}

void MetricsOpen(void)
{
    const char* dir = std::getenv("RAILMON_METRICS_DIR");
    if (!dir || !*dir) {
        showStatus(PANEL_STATUS_EXPORT, "Metrics off", VAL_DEFAULT_COLOR);
        return;
    }
    gMetricsDir = dir;
    gMetricsModel = gSupply.model;
    gMetricsOn = true;
    exportChanged();
}

void MetricsClose(void)
{
    if (!gMetricsOn)
        return;
    gMetricsWriter.stop(false);
    gMetricsOn = false;
    // The state above is no longer kept: only that railmon has stopped. A
    // file that cannot say so goes, or the lab would go on seeing the last
    // readings of a bench that is gone as alive.
    std::string why;
    if (!writeMetricsFile(exposition(gExport, gMetricsModel, false), why)) {
        const bool removed = OsRemove(metricsPath());
        std::printf("Cannot write %s: %s; %s\n", metricsPath().c_str(), why.c_str(),
                    removed ? "removed it" : "cannot remove it either");
    }
}
