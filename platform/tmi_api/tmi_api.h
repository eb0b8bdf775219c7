// The vendor's control library, TMI_API.dll: its 39 exported functions with
// their prototypes, in the vendor's declaration order. Every one returns int.
//
// This is the one list of them. What binds the library (railmon's entry-point
// table), what implements it (the simulated supply, the tests' recording
// fake) and what checks it (the tests) expand it, so a name or a prototype
// cannot drift between them. In which order an application binds the names
// is the application's business, not the library's.
//
// X(name, params)
#pragma once

#define TMI_API_FUNCTIONS(X)                                           \
    X(TMI_HandleOpen, (char*, char*))                                  \
    X(TMI_HandleClose, (int))                                          \
    X(TMI_TimeOut, (int, int))                                         \
    X(TMI_Refresh, (int))                                              \
    X(TMI_ModelNameQ, (int, char*))                                    \
    X(TMI_Voltage, (int, unsigned char, unsigned char, double))        \
    X(TMI_VoltageQ, (int, unsigned char, unsigned char, double*))      \
    X(TMI_Current, (int, unsigned char, unsigned char, double))        \
    X(TMI_CurrentQ, (int, unsigned char, unsigned char, double*))      \
    X(TMI_MainOutput, (int, unsigned char))                            \
    X(TMI_MainOutputQ, (int, unsigned char*))                          \
    X(TMI_Delay, (int, unsigned char))                                 \
    X(TMI_DelayQ, (int, unsigned char*))                               \
    X(TMI_OutputSel, (int, unsigned char, unsigned char))              \
    X(TMI_OutputSelQ, (int, unsigned char, unsigned char*))            \
    X(TMI_TrackingOnOff, (int, unsigned char))                         \
    X(TMI_TrackingOnOffQ, (int, unsigned char*))                       \
    X(TMI_TrackingMode, (int, unsigned char))                          \
    X(TMI_TrackingModeQ, (int, unsigned char*))                        \
    X(TMI_TrackingGroup, (int, unsigned char, unsigned char))          \
    X(TMI_TrackingGroupQ, (int, unsigned char, unsigned char*))        \
    X(TMI_TrackingData, (int, unsigned char, unsigned char, double))   \
    X(TMI_TrackingDataQ, (int, unsigned char, unsigned char, double*)) \
    X(TMI_DelayTime, (int, unsigned char, double))                     \
    X(TMI_DelayTimeQ, (int, unsigned char, double*))                   \
    X(TMI_Display, (int, unsigned char))                               \
    X(TMI_DisplayQ, (int, unsigned char*))                             \
    X(TMI_Preset, (int, unsigned char))                                \
    X(TMI_PresetQ, (int, unsigned char*))                              \
    X(TMI_MoniDataQ, (int, char, double*, double*, char*))             \
    X(TMI_AdrQ, (int, unsigned char*))                                 \
    X(TMI_RemoteLocal, (int))                                          \
    X(TMI_LocalLockOut, (int))                                         \
    X(TMI_DataBackUp, (int))                                           \
    X(TMI_SRQEnable, (int, unsigned char))                             \
    X(TMI_AllPresetQ, (int, double*))                                  \
    X(TMI_AllPresetQS, (int, char*))                                   \
    X(TMI_Out, (int, char*))                                           \
    X(TMI_In, (int, char*))

// How many functions the list holds; its users check their expansions
// against it.
#define TMI_API_FUNCTION_COUNT 39

// How an implementation of the library exports a function: by its plain C
// name, as the vendor's DLL does. A build that lists the exports itself (a
// Windows .def file) defines it as plain extern "C" beforehand.
#ifndef TMI_API_EXPORT
#ifdef _WIN32
#define TMI_API_EXPORT extern "C" __declspec(dllexport)
#else
#define TMI_API_EXPORT extern "C" __attribute__((visibility("default")))
#endif
#endif

// Exported by railmon's simulated supply, and by no vendor library, beside
// the 39: `int railmon_simulated_supply(void)`, returning 1. railmon tells
// the simulator by it, never by where a library was found.
#define TMI_SIMULATED_SUPPLY_MARK "railmon_simulated_supply"
