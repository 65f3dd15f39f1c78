// The folder's board settings: loaded for every request, the settings form of
// the folder administrators, and its save.
#pragma once

// Fills G_DIR_CONFIG from the folder's dir.cnf, info.txt and defo.txt; keys
// that are absent keep their defaults. 0; -9 dir.cnf locked (defaults kept);
// -2 dir.cnf cannot be opened or created.
int b_SET_DIR_CONFIG(long folder_no);

// JOB "SET_CONFIG": the settings form, or the refusal page below level 8.
void b_SET_CONFIG();

// JOB "SET_CONFIGWR": saves the form (pictures, settings, texts, folder name);
// prints nothing. Below level 8 it saves nothing.
void b_SET_CONFIGWR();
