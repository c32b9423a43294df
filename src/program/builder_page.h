#pragma once

namespace zrx {

class App;
struct BuilderState;
namespace ui {
class MainForm;
}

// The builder's frames show its state: the chosen lists its chosen lines, the build frame its
// destination's paths. Their handlers change the state (builder/builder_lists.h) and show it again.

// Shows every chosen list and the destination's paths as the builder holds them.
void ShowBuilder(const BuilderState& builder, ui::MainForm& m);
// Shows one frame's chosen list.
void ShowChosen(const BuilderState& builder, ui::MainForm& m, int frame);
// The library selected in a kind's file list: its element names into the element list.
void FillElementList(App& app, int kind);

// Connects the builder's frames, lists and buttons to their handlers.
void ConnectBuilder(App& app);

}  // namespace zrx
