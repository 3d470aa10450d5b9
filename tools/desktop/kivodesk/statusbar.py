"""The status-bar snippets of the README, as a test or a screenshot runs them."""

import json
import os
import re
import shlex


def readme_snippet(source_dir, language, containing):
    """The first code block of the README in that language whose text holds `containing`."""
    with open(os.path.join(source_dir, "README.md"), encoding="utf-8") as readme:
        text = readme.read()
    for block in re.findall(rf"```{language}\n(.*?)```", text, flags=re.S):
        if containing in block:
            return block
    raise LookupError(f"no {language} block with {containing!r} in the README")


def with_program(text, kivobar, env):
    """text with each command `kivobar ...` in it run as `env NAME=VALUE ... KIVOBAR ...`."""
    prefix = "env " + " ".join(shlex.quote(f"{key}={value}") for key, value in env.items()) + " " + shlex.quote(kivobar)
    return text.replace("kivobar ", prefix + " ")


def waybar_module(source_dir, kivobar, env):
    """The README's waybar module, its commands run as `env NAME=VALUE ... kivobar` with the given program."""
    name, settings = next(iter(json.loads("{" + readme_snippet(source_dir, "json", '"custom/kivo"') + "}").items()))
    for key, value in settings.items():
        if isinstance(value, str):
            settings[key] = with_program(value, kivobar, env)
    return {name: settings}


def i3blocks_blocks(source_dir, kivobar, env):
    """The README's i3blocks blocks, their commands run as `env NAME=VALUE ... kivobar` with the given program."""
    return with_program(readme_snippet(source_dir, "ini", "[kivo]"), kivobar, env)


def polybar_module(source_dir, kivobar, env):
    """The README's polybar module, its commands run as `env NAME=VALUE ... kivobar` with the given program."""
    return with_program(readme_snippet(source_dir, "ini", "[module/kivo]"), kivobar, env)


def waybar_style(source_dir):
    """The README's CSS for the waybar module."""
    return readme_snippet(source_dir, "css", "#custom-kivo")
