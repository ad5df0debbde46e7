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

#endif
