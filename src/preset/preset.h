/*
 * The preset file: settings and chosen ports kept for the next start.
 */
#ifndef VOLTANIS_PRESET_H
#define VOLTANIS_PRESET_H

#include <stdint.h>

#define PRESET_SIZE 168
#define PRESET_VERSION 6

int savePreset(void);
int loadPreset(void);
/* loadPreset for ports chosen beforehand (on the command line): a direction
   kept keeps its port, and the name stored for it need not be found. */
int loadPresetKeeping(int keepOut, int keepIn);

#endif
