// Checks every message of the captured exchanges (docs/websocket-examples.md) against the protocol description
// (docs/websocket-api.json): what the server sent must be a valid server message; what a client sent must be a
// valid client message, except under "Refused messages", where each one is there because the server refuses or
// ignores it, so the description must refuse it too. Prints one line per failure and a count; exits 1 on any
// failure, 77 (skipped) when ajv is not installed.
//
// usage: node validate_examples.cjs websocket-api.json websocket-examples.md
"use strict";
const fs = require("fs");
const path = require("path");

let Ajv2020;
try {
    Ajv2020 = require("ajv/dist/2020");
} catch (error) {
    if (error.code !== "MODULE_NOT_FOUND")
        throw error;
    console.log("ajv is not installed (npm ci in the build's tests/schema): skipped");
    process.exit(77);
}

const [schemaFile, examplesFile] = process.argv.slice(2);
const schema = JSON.parse(fs.readFileSync(schemaFile, "utf8"));
const ajv = new Ajv2020({allErrors: true});
ajv.addSchema(schema);
const validators = {
    client: ajv.getSchema(schema.$id + "#/$defs/client_message"),
    server: ajv.getSchema(schema.$id + "#/$defs/server_message"),
};

// The messages of the examples: {side, text, line, refused}. A client's block holds one message per line; the
// server's holds indented objects separated by blank lines.
function messagesOf(markdown) {
    const lines = markdown.split("\n");
    const found = [];
    let section = "";
    let side = null;
    for (let i = 0; i < lines.length; ++i) {
        const line = lines[i];
        if (line.startsWith("## "))
            section = line.slice(3);
        if (/^Client [A-Z] sends:$/.test(line))
            side = "client";
        else if (/^Client [A-Z] receives:$/.test(line))
            side = "server";
        if (line !== "```json" || !side)
            continue;
        let end = i + 1;
        while (end < lines.length && lines[end] !== "```")
            ++end;
        const block = lines.slice(i + 1, end);
        const refused = side === "client" && section === "Refused messages";
        if (side === "client") {
            block.forEach((text, k) => {
                if (text.trim())
                    found.push({side, text, line: i + 2 + k, refused});
            });
        } else {
            let start = 0;
            for (let k = 0; k <= block.length; ++k) {
                if (k === block.length || block[k] === "") {
                    if (k > start)
                        found.push({side, text: block.slice(start, k).join("\n"), line: i + 2 + start, refused});
                    start = k + 1;
                }
            }
        }
        side = null;
        i = end;
    }
    return found;
}

const messages = messagesOf(fs.readFileSync(examplesFile, "utf8"));
const where = path.basename(examplesFile);
let failures = 0;
for (const message of messages) {
    let problem = null;
    try {
        const validate = validators[message.side];
        problem = validate(JSON.parse(message.text)) ? null : ajv.errorsText(validate.errors, {dataVar: "message"});
    } catch (error) {
        problem = error.message;
    }
    const first = message.text.split("\n")[0];
    if (message.refused && !problem) {
        console.log(`${where}:${message.line}: ${message.side} message accepted, but the server refuses it: ${first}`);
        ++failures;
    } else if (!message.refused && problem) {
        console.log(`${where}:${message.line}: ${message.side} message not valid: ${problem}`);
        ++failures;
    }
}

const count = (side, refused) => messages.filter(m => m.side === side && m.refused === refused).length;
console.log(`${messages.length} messages checked (${count("client", false)} client, ${count("client", true)} ` +
            `refused client, ${count("server", false)} server): ${failures} failures`);
// A file whose messages were not found would pass for the wrong reason.
if (!count("client", false) || !count("client", true) || !count("server", false)) {
    console.log("the examples hold no message of some kind: is the file's layout still the one read here?");
    process.exit(1);
}
process.exit(failures ? 1 : 0);
