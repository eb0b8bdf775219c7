// The vendor library's 39 exported functions, in declaration order, as one
// list. Everything that names them (the entry-point table, its clearing, its
// binding and testing, the simulated supply and the test fakes) expands this
// list, so a name or a prototype cannot drift between them.
//
// X(name, bind, params): `bind` is the position (1..39) at which TMI_Open
// resolves the entry. It equals the declaration position shifted by one,
// except TMI_HandleClose, which is bound last: a library lacking any other
// name therefore always leaves TMI_HandleClose unbound, and TMI_Test can tell
// an incomplete binding by looking at the first two entries alone.
#pragma once

#define TMI_ENTRY_POINTS(X)                                                         \
    X(TMI_HandleOpen, 1, (char*, char*))                                            \
    X(TMI_HandleClose, 39, (int))                                                   \
    X(TMI_TimeOut, 2, (int, int))                                                   \
    X(TMI_Refresh, 3, (int))                                                        \
    X(TMI_ModelNameQ, 4, (int, char*))                                              \
    X(TMI_Voltage, 5, (int, unsigned char, unsigned char, double))                  \
    X(TMI_VoltageQ, 6, (int, unsigned char, unsigned char, double*))                \
    X(TMI_Current, 7, (int, unsigned char, unsigned char, double))                  \
    X(TMI_CurrentQ, 8, (int, unsigned char, unsigned char, double*))                \
    X(TMI_MainOutput, 9, (int, unsigned char))                                      \
    X(TMI_MainOutputQ, 10, (int, unsigned char*))                                   \
    X(TMI_Delay, 11, (int, unsigned char))                                          \
    X(TMI_DelayQ, 12, (int, unsigned char*))                                        \
    X(TMI_OutputSel, 13, (int, unsigned char, unsigned char))                       \
    X(TMI_OutputSelQ, 14, (int, unsigned char, unsigned char*))                     \
    X(TMI_TrackingOnOff, 15, (int, unsigned char))                                  \
    X(TMI_TrackingOnOffQ, 16, (int, unsigned char*))                                \
    X(TMI_TrackingMode, 17, (int, unsigned char))                                   \
    X(TMI_TrackingModeQ, 18, (int, unsigned char*))                                 \
    X(TMI_TrackingGroup, 19, (int, unsigned char, unsigned char))                   \
    X(TMI_TrackingGroupQ, 20, (int, unsigned char, unsigned char*))                 \
    X(TMI_TrackingData, 21, (int, unsigned char, unsigned char, double))            \
    X(TMI_TrackingDataQ, 22, (int, unsigned char, unsigned char, double*))          \
    X(TMI_DelayTime, 23, (int, unsigned char, double))                              \
    X(TMI_DelayTimeQ, 24, (int, unsigned char, double*))                            \
    X(TMI_Display, 25, (int, unsigned char))                                        \
    X(TMI_DisplayQ, 26, (int, unsigned char*))                                      \
    X(TMI_Preset, 27, (int, unsigned char))                                         \
    X(TMI_PresetQ, 28, (int, unsigned char*))                                       \
    X(TMI_MoniDataQ, 29, (int, char, double*, double*, char*))                      \
    X(TMI_AdrQ, 30, (int, unsigned char*))                                          \
    X(TMI_RemoteLocal, 31, (int))                                                   \
    X(TMI_LocalLockOut, 32, (int))                                                  \
    X(TMI_DataBackUp, 33, (int))                                                    \
    X(TMI_SRQEnable, 34, (int, unsigned char))                                      \
    X(TMI_AllPresetQ, 35, (int, double*))                                           \
    X(TMI_AllPresetQS, 36, (int, char*))                                            \
    X(TMI_Out, 37, (int, char*))                                                    \
    X(TMI_In, 38, (int, char*))

// How many entries the list holds; railmon.cpp checks it against the list.
#define TMI_ENTRY_POINT_COUNT 39
