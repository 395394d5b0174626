#pragma once

// GLUT display callback: clear, draw the scene, swap.
void onDisplay();
// GLUT reshape callback: remember the size, set the projection and the viewport.
void onReshape(int width, int height);
// Light 0's colours and the shading model; once, after the window exists.
void setUpLighting();
