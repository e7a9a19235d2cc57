"""The label library: draggable labels for the application's building blocks."""
