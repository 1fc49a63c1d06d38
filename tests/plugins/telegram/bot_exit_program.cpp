// A program that uses the process-wide bot and ends without closing it.
//
//   bot_exit_program API_URL TOKEN CHAT_ID CA_FILE
//
// Starts the process-wide bot against the Bot API at API_URL, trusting the
// certificate authorities of CA_FILE, and returns from main as soon as a
// line, or the end of input, comes on standard input; the bot is left
// polling.
#include <cstdlib>
#include <iostream>
#include <string>

#include "zantrix/framework/config.h"
#include "zantrix/plugins/telegram/bot.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: bot_exit_program API_URL TOKEN CHAT_ID CA_FILE\n";
    return 2;
  }
  setenv("SSL_CERT_FILE", argv[4], 1);
  auto& config = zantrix::framework::zantrix_config();
  config.set_TELEGRAM_API_URL(argv[1]);
  config.set_TELEGRAM_TOKEN(argv[2]);
  config.set_TELEGRAM_CHAT_ID(std::atoll(argv[3]));
  zantrix::plugins::telegram::bot();
  std::string line;
  std::getline(std::cin, line);
  return 0;
}
