// The waveform file the device library loads: one fixed path, the same on
// every system, shared with minute-trigger-check, which looks for it, and
// with the installer's steps, which lock it (packaging/windows/layout.h
// makes the wide twin of the literal).
#ifndef WAVEFORM_PATH_H
#define WAVEFORM_PATH_H

#define WAVEFORM_PATH "C:\\Qmx\\ZPR\\samples\\lorvex_20Hz_60sec_length.zpr"
constexpr char WaveformPath[] = WAVEFORM_PATH;

#endif
