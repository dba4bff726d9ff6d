#include "dispatch.hpp"

#include <array>

#include "commands.hpp"
#include "nimbra/resolve.hpp"
#include "output.hpp"

const std::string_view HELP_TEXT =
    "orvik nimbra — DashScope on YOUR key (no gateway, no fallback)\n"
    "\n"
    "  accounts [--example] [--json]   key provenance per host (never the key)\n"
    "  status [--host H] [--json]      keys resolve? host probes reachable?\n"
    "  models [--kind chat|image|video|speech] [--live] [--json]\n"
    "                                  the catalog — chat + media (data file).\n"
    "                                  --live asks the platform what it serves\n"
    "                                  TODAY and flags what this table lacks\n"
    "  chat \"<prompt>\" [--model M] [--host intl|asia] [--system S]\n"
    "       [--max-tokens N] [--reasoning-effort L] [--no-think]\n"
    "       [--raw|--json]             chat completions on the OpenAI-compatible\n"
    "                                  surface; STREAMS to stdout by default.\n"
    "                                  Default model qwen3.8-max\n"
    "  image \"<prompt>\" [--model M] [--size WxH] [--n N] [--edit FILE]…\n"
    "        [--negative S] [--seed N] [--no-prompt-extend]\n"
    "        [--wait|--submit] [--host intl|asia] [--json]\n"
    "                                  generate (or edit) images; files land in\n"
    "                                  ~/Pictures/generated\n"
    "  video \"<prompt>\" [--model M] [--image FILE|URL] [--last-frame FILE|URL] [--duration N]\n"
    "        [--size WxH | --resolution R --ratio R] [--seed N]\n"
    "        [--wait|--submit] [--host intl|asia] [--json]\n"
    "                                  submit a video task. DEFAULT --submit:\n"
    "                                  prints the task id + resume command\n"
    "  speech \"<text>\" [--model M] [--voice V] [--language L]\n"
    "        [--host intl|asia] [--json]\n"
    "                                  synthesize speech (synchronous lane)\n"
    "  task <id> [--wait] [--host intl|asia] [--json]\n"
    "                                  inspect/poll any submitted task; --wait\n"
    "                                  downloads the artifact on success\n"
    "  gallery [--json]                ~/Pictures/generated, newest first\n"
    "                                  (the SAME gallery orvik vorl writes)\n"
    "\n"
    "Credentials resolve: env DASHSCOPE_API_KEY → `secrets get DASHSCOPE_API_KEY`\n"
    "→ <fleet home>/config/alicloud-accounts.json DashScope keys[]. The env var\n"
    "alone is sufficient — nothing else is required. Keys are HOST-SCOPED: a\n"
    "pay-as-you-go key (sk-…) belongs to dashscope-intl.aliyuncs.com, a\n"
    "token-plan key (sk-sp-…) to token-plan.ap-southeast-1.maas.aliyuncs.com —\n"
    "a valid key on the wrong host 401s, and the error says so. Chat rides the\n"
    "OpenAI-compatible surface on both hosts; the marketplace model ZHIPU/GLM-5.3\n"
    "additionally wants DASHSCOPE_API_KEY_CREDITS (same intl host, a separate\n"
    "billing wallet).";

const std::string_view DESCRIPTION =
    "nimbra — BYO-key DashScope: chat + image/video/speech + async tasks on your own key (your "
    "key, "
    "your bill)";

namespace {

struct CommandWord {
  std::string_view word;
  CommandResult (*handler)(Args);
};

constexpr std::array<CommandWord, 9> COMMANDS = {{
    {"accounts", accounts},
    {"status", status},
    {"models", models},
    {"chat", chat},
    {"image", image},
    {"video", video},
    {"speech", speech},
    {"task", task},
    {"gallery", gallery},
}};

}  // namespace

CommandResult run(Args args) {
  const std::string_view word = args.empty() ? std::string_view("help") : std::string_view(args[0]);
  if (word == "help" || word == "-h" || word == "--help") {
    out_line(HELP_TEXT);
    return {};
  }
  if (word == "--describe") {
    out_line(DESCRIPTION);
    return {};
  }
  for (const auto& command : COMMANDS) {
    if (word != command.word) continue;
    // A bad base-URL override must stop every command that may use a host.
    if (auto loaded = resolve::load_base_url_overrides(); !loaded)
      return std::unexpected(runtime_error(loaded.error()));
    return command.handler(args.subspan(1));
  }
  return std::unexpected(usage("unknown command '" + std::string(word) +
                               "'. Try: orvik nimbra chat, image, video, speech, task, models, "
                               "status, accounts, gallery."));
}
