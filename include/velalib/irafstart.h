// Start-up of the IRAF runtime as a host-level task. Called once, first thing
// in main; the rest of the program relies only on its returning.
#pragma once

void c_irafinit();
