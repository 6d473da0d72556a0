// The scene load at the window's first activation: texture set, then the quad list with
// ProgressBar1 showing how far the file has been read.
#pragma once

// Runs LoadScene the first time it is called and never again. Errors propagate to the caller's
// guard; a close of the window during the load ends it quietly.
void FormActivate();

// Loads the scene named by the first program argument; stops silently without one, or when
// no file is there. Needs Panel1's GL context for the texture uploads.
void LoadScene();

// True while LoadScene runs: the view then shows black instead of a partial scene.
bool SceneLoadRunning();
