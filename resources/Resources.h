#pragma once

// The pictures live in a static library, so their registration is not pulled
// in on its own: main() and the window tests call this once before use.
void InitKiroResources();
