"""Widgets that present the application's models."""
