// Writes the shell completion scripts for orvik nimbra. Model ids, voices
// and host names come from the built-in tables, so the scripts follow the
// catalog whenever it changes.
#include <array>
#include <cstdio>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "nimbra/catalog.hpp"
#include "nimbra/resolve.hpp"

namespace {

struct CommandFlags {
  std::string_view word;
  std::string_view flags;
};

// The flags each command reads, as the help text lists them.
constexpr std::array<CommandFlags, 9> COMMAND_FLAGS = {{
    {"accounts", "--example --json"},
    {"status", "--host --json"},
    {"models", "--kind --live --host --json"},
    {"chat", "--model --host --system --max-tokens --reasoning-effort --no-think --raw --json"},
    {"image",
     "--model --size --n --edit --negative --seed --no-prompt-extend --wait --submit --host "
     "--json"},
    {"video",
     "--model --image --last-frame --duration --size --resolution --ratio --seed "
     "--no-prompt-extend --wait --submit --host --json"},
    {"speech", "--model --voice --language --instructions --host --json"},
    {"task", "--wait --host --json"},
    {"gallery", "--json"},
}};

constexpr std::string_view KINDS = "chat image video speech tts";
constexpr std::string_view EFFORTS = "minimal low medium high max xhigh";

std::string models_of(catalog::ModelKind kind) {
  std::set<std::string_view> seen;
  std::string out;
  for (const auto& row : catalog::CATALOG) {
    if (row.kind != kind || !seen.insert(row.id).second) continue;
    if (!out.empty()) out += ' ';
    out += row.id;
  }
  return out;
}

std::string hosts_words() {
  std::string out;
  for (const auto& host : resolve::HOSTS)
    for (const auto alias : host.aliases) {
      if (!out.empty()) out += ' ';
      out += alias;
    }
  return out;
}

std::string voices_words() {
  std::string out = "list";
  for (const auto v : catalog::VOICES) {
    out += ' ';
    out += v;
  }
  return out;
}

std::string command_words() {
  std::string out;
  for (const auto& c : COMMAND_FLAGS) {
    if (!out.empty()) out += ' ';
    out += c.word;
  }
  return out;
}

std::string sizes_words() {
  std::string out;
  for (const auto s : catalog::FIXED_SIZES) {
    if (!out.empty()) out += ' ';
    out += s;
  }
  return out;
}

void bash() {
  std::printf("# bash completion for orvik nimbra and orvik-nimbra (generated from the catalog)\n");
  std::printf("_orvik_nimbra_models_chat='%s'\n", models_of(catalog::ModelKind::Chat).c_str());
  std::printf("_orvik_nimbra_models_image='%s'\n", models_of(catalog::ModelKind::Image).c_str());
  std::printf("_orvik_nimbra_models_video='%s'\n", models_of(catalog::ModelKind::Video).c_str());
  std::printf("_orvik_nimbra_models_speech='%s'\n", models_of(catalog::ModelKind::Speech).c_str());
  std::printf(R"(
_orvik_nimbra_reply() {
  mapfile -t COMPREPLY < <(compgen -W "$1" -- "$2")
}

_orvik_nimbra() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} base=1
  COMPREPLY=()
  if [[ ${COMP_WORDS[0]##*/} == orvik ]]; then
    if (( COMP_CWORD == 1 )); then
      _orvik_nimbra_reply "nimbra" "$cur"
      return
    fi
    [[ ${COMP_WORDS[1]} == nimbra ]] || return
    base=2
  fi
  if (( COMP_CWORD == base )); then
    _orvik_nimbra_reply "%s help --help" "$cur"
    return
  fi
  local cmd=${COMP_WORDS[base]} flags=
  case $prev in
    --model)
      case $cmd in
        chat) _orvik_nimbra_reply "$_orvik_nimbra_models_chat" "$cur" ;;
        image) _orvik_nimbra_reply "$_orvik_nimbra_models_image" "$cur" ;;
        video) _orvik_nimbra_reply "$_orvik_nimbra_models_video" "$cur" ;;
        speech) _orvik_nimbra_reply "$_orvik_nimbra_models_speech" "$cur" ;;
      esac
      return ;;
    --host) _orvik_nimbra_reply "%s" "$cur"; return ;;
    --kind) _orvik_nimbra_reply "%s" "$cur"; return ;;
    --voice) _orvik_nimbra_reply "%s" "$cur"; return ;;
    --reasoning-effort) _orvik_nimbra_reply "%s" "$cur"; return ;;
    --size)
      [[ $cmd == image ]] && _orvik_nimbra_reply "%s" "$cur"
      return ;;
    --edit|--image|--last-frame)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return ;;
    --n|--seed|--system|--max-tokens|--negative|--duration|--resolution|--ratio|--language|--instructions)
      return ;;
  esac
  case $cmd in
)",
              command_words().c_str(), hosts_words().c_str(), std::string(KINDS).c_str(),
              voices_words().c_str(), std::string(EFFORTS).c_str(), sizes_words().c_str());
  for (const auto& c : COMMAND_FLAGS)
    std::printf("    %s) flags='%s' ;;\n", std::string(c.word).c_str(),
                std::string(c.flags).c_str());
  std::printf(R"(  esac
  if [[ $cur == -* ]]; then
    _orvik_nimbra_reply "$flags" "$cur"
  elif [[ $cmd == task ]]; then
    :
  fi
}
complete -F _orvik_nimbra orvik-nimbra orvik
)");
}

void zsh() {
  std::printf("#compdef orvik orvik-nimbra\n");
  std::printf("# zsh completion for orvik nimbra and orvik-nimbra (generated from the catalog)\n");
  std::printf("_orvik_nimbra() {\n");
  std::printf("  local -a cmds\n  cmds=(%s help)\n", command_words().c_str());
  std::printf("  local offset=1\n");
  std::printf("  if [[ ${words[1]:t} == orvik ]]; then\n");
  std::printf("    if (( CURRENT == 2 )); then compadd nimbra; return; fi\n");
  std::printf("    [[ ${words[2]} == nimbra ]] || return\n    offset=2\n  fi\n");
  std::printf("  if (( CURRENT == offset + 1 )); then compadd -a cmds; return; fi\n");
  std::printf("  local cmd=${words[offset+1]} prev=${words[CURRENT-1]}\n");
  std::printf("  case $prev in\n");
  std::printf("    --model)\n      case $cmd in\n");
  std::printf("        chat) compadd -- %s ;;\n", models_of(catalog::ModelKind::Chat).c_str());
  std::printf("        image) compadd -- %s ;;\n", models_of(catalog::ModelKind::Image).c_str());
  std::printf("        video) compadd -- %s ;;\n", models_of(catalog::ModelKind::Video).c_str());
  std::printf("        speech) compadd -- %s ;;\n", models_of(catalog::ModelKind::Speech).c_str());
  std::printf("      esac\n      return ;;\n");
  std::printf("    --host) compadd -- %s; return ;;\n", hosts_words().c_str());
  std::printf("    --kind) compadd -- %s; return ;;\n", std::string(KINDS).c_str());
  std::printf("    --voice) compadd -- %s; return ;;\n", voices_words().c_str());
  std::printf("    --reasoning-effort) compadd -- %s; return ;;\n", std::string(EFFORTS).c_str());
  std::printf("    --edit|--image|--last-frame) _files; return ;;\n");
  std::printf(
      "    "
      "--size|--n|--seed|--system|--max-tokens|--negative|--duration|--resolution|--ratio|--"
      "language|--instructions) return ;;\n");
  std::printf("  esac\n  case $cmd in\n");
  for (const auto& c : COMMAND_FLAGS)
    std::printf("    %s) compadd -- %s ;;\n", std::string(c.word).c_str(),
                std::string(c.flags).c_str());
  std::printf("  esac\n}\n_orvik_nimbra \"$@\"\n");
}

void fish() {
  std::printf("# fish completion for orvik nimbra and orvik-nimbra (generated from the catalog)\n");
  const std::string cmds = command_words();
  for (const char* prog : {"orvik-nimbra", "orvik"}) {
    const bool launcher = std::string_view(prog) == "orvik";
    const std::string in_nimbra = launcher ? "__fish_seen_subcommand_from nimbra; and " : "";
    if (launcher) std::printf("complete -c orvik -f -n '__fish_use_subcommand' -a nimbra\n");
    std::printf("complete -c %s -f -n '%snot __fish_seen_subcommand_from %s' -a '%s'\n", prog,
                in_nimbra.c_str(), cmds.c_str(), cmds.c_str());
    for (const auto& c : COMMAND_FLAGS) {
      std::string flags(c.flags);
      std::size_t start = 0;
      while (start < flags.size()) {
        auto end = flags.find(' ', start);
        if (end == std::string::npos) end = flags.size();
        const std::string flag = flags.substr(start + 2, end - start - 2);
        std::string values;
        if (flag == "model") {
          const auto kind = c.word == "chat"    ? catalog::ModelKind::Chat
                            : c.word == "image" ? catalog::ModelKind::Image
                            : c.word == "video" ? catalog::ModelKind::Video
                                                : catalog::ModelKind::Speech;
          values = " -x -a '" + models_of(kind) + "'";
        } else if (flag == "host") {
          values = " -x -a '" + hosts_words() + "'";
        } else if (flag == "kind") {
          values = " -x -a '" + std::string(KINDS) + "'";
        } else if (flag == "voice") {
          values = " -x -a '" + voices_words() + "'";
        } else if (flag == "reasoning-effort") {
          values = " -x -a '" + std::string(EFFORTS) + "'";
        } else if (flag == "edit" || flag == "image" || flag == "last-frame") {
          values = " -r -F";
        }
        std::printf("complete -c %s -n '%s__fish_seen_subcommand_from %s' -l %s%s\n", prog,
                    in_nimbra.c_str(), std::string(c.word).c_str(), flag.c_str(), values.c_str());
        start = end + 1;
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view shell = argc > 1 ? argv[1] : "";
  if (shell == "bash")
    bash();
  else if (shell == "zsh")
    zsh();
  else if (shell == "fish")
    fish();
  else {
    std::fprintf(stderr, "usage: nimbra-completions bash|zsh|fish\n");
    return 2;
  }
  return std::ferror(stdout) ? 1 : 0;
}
