// The waveform file the device library loads: one fixed path, the same on
// every system, shared with minute-trigger-check, which looks for it.
#ifndef WAVEFORM_PATH_H
#define WAVEFORM_PATH_H

constexpr char WaveformPath[] = "C:\\Qmx\\ZPR\\samples\\lorvex_20Hz_60sec_length.zpr";

#endif
