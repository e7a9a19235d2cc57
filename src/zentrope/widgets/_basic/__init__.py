"""Basic building blocks shared by the application's widgets."""
