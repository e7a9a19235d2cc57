// The methods of the module's two classes, in class-body order.
#pragma once

#include "function/native_function.hpp"

#include <span>

namespace zen {

// _MPLDragWidget: __init__, dragEnterEvent, dragLeaveEvent, draw,
// set_bgcolor, set_fontcolor.
std::span<const MethodSpec> canvas_methods();

// self.ax.set_facecolor(self.<colour_attr>); self.draw(): the canvas's
// resting or highlight colour, shown at once.
void show_face_colour(PyObject* self, PyObject* colour_attr);

// GeometryModelFigure: __init__, add_element, clear, dropEvent,
// remove_element, set_artist_value, set_selection.
std::span<const MethodSpec> figure_methods();

}  // namespace zen
