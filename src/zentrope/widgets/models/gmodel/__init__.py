"""Geometry model widgets; the native plotting module ``mpl`` lives here."""
