// How the panel marks what is not the supply's confirmed state: readouts
// that no longer show what the outputs do, a main output or a setpoint the
// supply did not confirm, a preset it did not report. What the panel shows
// is what the supply reported, or visibly marked as not that.
#pragma once

#include <ctime>
#include <string>

// What a query leaves when the supply wrote nothing: no supply reports
// these (presets and output states are small numbers).
enum : unsigned char { NO_OUTPUT_STATE = 0xFF };
enum : unsigned char { NO_PRESET = 0xFF };

// Readouts that no longer show what the outputs do (after Set, a recall, a
// switched output, a disabled channel), greyed until their next reading.
void markReadingsStale(int panel, int ch);
void markAllReadingsStale(int panel);

// A supply that answers nothing may have its outputs in any state: while
// `silent`, the main output switch's last confirmed state is marked as no
// longer one to rely on. `lastDelivered` is when a reading last came (0:
// never).
void markSupplySilent(bool silent, std::time_t lastDelivered);

// The main output as the supply reports it, marked when that is not what
// the operator asked for (`asked` < 0: nothing was asked, as at start-up)
// or when no state came back at all.
void showMainOutput(int panel, int control, unsigned char reported, int asked);

// Shows the active preset as the supply reported it, or as not reported
// (never as a preset of its own). Returns the preset to address setpoints
// with: what was reported, or 0 as before when nothing was.
unsigned char showActivePreset(unsigned char reported);

// Shows a setpoint as the supply reported it, or marks the control when the
// supply gave none (it then holds no value, which Set does not write).
void showQueriedSetpoint(int panel, int control, double value);

// After Set: marks a setpoint control whose value the supply does not hold
// (clamped, refused, or no answer at all), and clears the mark once it
// does; the control keeps what it shows. `unit` names the value's unit.
void showSetpointAgreement(int panel, int control, double shown, double reported, const char* unit);

// What a script did to a control, said in its tooltip below the control's
// own text and its mark: "set remotely at 14:03:07" after a script changed
// it (empty once the operator changed it again), and why the operator
// cannot change it ("locked by remote client 127.0.0.1:40312 (SYST:RWL)",
// empty once released).
void noteRemoteChange(int panel, int control, const std::string& note);
void noteRemoteLock(int panel, int control, const std::string& note);
