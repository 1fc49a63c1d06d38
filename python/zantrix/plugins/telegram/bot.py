"""TelegramBot: control of a running engine through a Telegram chat.

The bot never calls the engine. A chat command ("/stop", "/balance",
"/send_order", ...) records a request in the bot's request state and
acknowledges it in the chat; the engine polls the state from its own thread,
carries the request out, answers with ``send_message`` and resets the
request::

    from zantrix.plugins.telegram.bot import bot

    while bot.zantrix_status == "Running":
        if bot.get_balance:
            bot.send_message(str(vex.account_balance))
            bot.get_balance = False
        ...

``bot`` is the process-wide bot, made when it is first imported or read
from TELEGRAM_TOKEN, TELEGRAM_API_URL, TELEGRAM_CHAT_ID and TELEGRAM_USER_IDS
of the configuration; polling starts then. Only the owner's chat is served.
"""

from zantrix._zantrix import TelegramBot, telegram_bot
from zantrix._export import claim

__all__ = ["TelegramBot"]
claim(__name__)


def __getattr__(name):
    if name == "bot":
        return telegram_bot()
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
