"""The bot from Python against the fake Bot API of the bot's own tests: a
command's request reaches the engine's properties, the engine's answer and
reset go back the other way."""

import json
import os
import subprocess
import threading

import pytest

TOKEN = "123456:TEST-token_AbC"
OWNER = 4242


class FakeBotApi:
    """The fake Bot API server, driven through its input and output."""

    def __init__(self):
        self.server = subprocess.Popen([os.environ["ZANTRIX_FAKE_BOT_API"]], text=True,
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.url = self.server.stdout.readline().strip()
        self.lock = threading.Lock()

    def ask(self, line):
        with self.lock:
            self.server.stdin.write(line + "\n")
            self.server.stdin.flush()
            return self.server.stdout.readline()

    def push(self, chat_id, text):
        self.ask(f"push {chat_id} {text}")

    def texts(self, chat_id):
        return json.loads(self.ask(f"texts {chat_id}"))

    def close(self):
        self.server.stdin.close()
        self.server.wait()


@pytest.fixture
def fake_bot_api():
    api = FakeBotApi()
    yield api
    api.close()


def until(condition):
    """Whether the condition came true within a generous bound."""
    done = threading.Event()
    for _ in range(1000):
        if condition():
            return True
        done.wait(0.02)
    return False


def test_the_request_state_round_trip(sample, fake_bot_api):
    sample.TELEGRAM_TOKEN = TOKEN
    sample.TELEGRAM_API_URL = fake_bot_api.url
    sample.TELEGRAM_CHAT_ID = OWNER
    from zantrix.plugins.telegram.bot import bot
    try:
        assert bot.zantrix_status == "Running" and not bot.get_balance
        fake_bot_api.push(OWNER, "/balance")
        assert until(lambda: bot.get_balance)
        bot.send_message("balance: 1000000.00")
        bot.get_balance = False
        fake_bot_api.push(OWNER, "/send_order HK.00700,100,l,o,l,CQG,350.2,None")
        assert until(lambda: bot.send_order)
        assert bot.order_string == "HK.00700,100,l,o,l,CQG,350.2,None"
        bot.send_order, bot.order_string = False, ""
        fake_bot_api.push(OWNER, "/stop")
        assert until(lambda: bot.zantrix_status == "Terminated")
        assert until(lambda: "balance: 1000000.00" in fake_bot_api.texts(OWNER))
        assert (bot.get_balance, bot.send_order, bot.order_string) == (False, False, "")
        bot.cancel_order_id = "O-1"
        assert bot.cancel_order_id == "O-1"
        with pytest.raises(TypeError, match="msg"):
            bot.send_message(42)
    finally:
        bot.close()
