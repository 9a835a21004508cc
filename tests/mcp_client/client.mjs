// A real MCP client: the official TypeScript SDK drives `kelp-cua mcp` over
// stdio and prints what it saw as one JSON object.
//
//   node client.mjs KELP_CUA CHECKBOX_REF_APP CARD_PID
import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";
import Ajv from "ajv";

const [helper, app, cardPid] = process.argv.slice(2);
const transport = new StdioClientTransport({ command: helper, args: ["mcp"], env: process.env, stderr: "pipe" });
const client = new Client({ name: "kelp-cua-test", version: "1.0.0" });
await client.connect(transport);
const transcript = { server: client.getServerVersion(), protocol: transport.protocolVersion ?? null };

const { tools } = await client.listTools();
const ajv = new Ajv({ strict: false });
transcript.tools = tools.map((tool) => {
  let schemaValid = true;
  try {
    ajv.compile(tool.inputSchema);
  } catch {
    schemaValid = false;
  }
  return { name: tool.name, schemaValid };
});

const tree = await client.callTool({ name: "tree", arguments: { app, max: 400 } });
const box = tree.structuredContent.elements.find(
  (node) => node.role === "AXCheckBox" && node.label === "checkbutton" && node.enabled && node.value === "0" &&
    node.frame,
);
transcript.tree = { isError: tree.isError, elements: tree.structuredContent.elements.length, box };
if (box) {
  const acted = await client.callTool({ name: "act", arguments: { app, ref: box.ref } });
  const after = await client.callTool({ name: "tree", arguments: { app, max: 400 } });
  transcript.act = {
    isError: acted.isError,
    label: acted.structuredContent.label,
    valueAfter: after.structuredContent.elements.find((node) => node.path === box.path)?.value,
  };
}

const shot = await client.callTool({ name: "screenshot", arguments: { app } });
transcript.screenshot = {
  isError: shot.isError,
  images: shot.content
    .filter((block) => block.type === "image")
    .map((block) => ({ mimeType: block.mimeType, data: block.data })),
  described: shot.structuredContent.images,
};

const card = await client.callTool({
  name: "act",
  arguments: { pid: Number(cardPid), locator: { role: "AXTextField", label: "카드번호" }, action: "type",
               text: "4111111111111111" },
});
transcript.card = { isError: card.isError, text: card.content[0].text };

await client.close();
console.log(JSON.stringify(transcript));
