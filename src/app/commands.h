#pragma once

// GLUT keyboard callback: the single-key commands.
void onKeyboard(unsigned char key, int x, int y);
// Print the command help.
void printHelp();
// Print the "Scan Length : " line.
void printScanLength();
