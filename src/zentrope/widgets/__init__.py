"""Qt widgets of the zentrope application."""
