"""The Telegram bot through which a user steers a running engine."""
