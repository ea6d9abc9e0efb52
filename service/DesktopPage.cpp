#include "service/DesktopPage.h"

namespace Cogitra::Service {

const std::string &DesktopPageHtml()
{
    static const std::string kPage = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Notebooks</title>
<style>
  * { box-sizing: border-box; }
  body { margin: 0; font: 14px/1.4 "Segoe UI", "DejaVu Sans", sans-serif; color: #222; height: 100vh;
         display: flex; flex-direction: column; background: #f3f2f1; }
  header { background: #7719aa; color: #fff; padding: 8px 16px; display: flex; align-items: center; gap: 16px; }
  header h1 { font-size: 17px; margin: 0; font-weight: 600; }
  #selected { margin-left: auto; font-size: 13px; opacity: .95; max-width: 60%; overflow: hidden;
              text-overflow: ellipsis; white-space: nowrap; }
  main { flex: 1; display: flex; min-height: 0; }
  nav { width: 250px; background: #fff; border-right: 1px solid #ddd; overflow: auto; padding: 8px 0; }
  nav .account { padding: 6px 12px; font-size: 12px; color: #666; text-transform: uppercase; }
  nav .notebook { padding: 6px 12px; font-weight: 600; }
  nav .group { padding: 4px 12px; color: #555; }
  nav .section { padding: 5px 12px; cursor: pointer; border-left: 4px solid transparent; }
  nav .section:hover { background: #f0e6f6; }
  nav .section.active { background: #ead7f5; border-left-color: #7719aa; }
  nav .count { color: #888; font-size: 12px; margin-left: 4px; }
  #pages { width: 290px; background: #faf9f8; border-right: 1px solid #ddd; display: flex; flex-direction: column; }
  #pages .tools { padding: 8px; border-bottom: 1px solid #ddd; display: flex; gap: 6px; }
  #pages .tools input { flex: 1; padding: 5px; border: 1px solid #bbb; }
  #pages .tools button { padding: 5px 10px; white-space: nowrap; }
  #pageList { overflow: auto; flex: 1; }
  .page { padding: 7px 12px; cursor: pointer; border-bottom: 1px solid #eee; }
  .page:hover { background: #f0e6f6; }
  .page.active { background: #ead7f5; }
  .page.chosen::before { content: "\2713  "; color: #107c10; font-weight: 700; }
  .page .when { display: block; color: #888; font-size: 11px; }
  #content { flex: 1; display: flex; flex-direction: column; min-width: 0; }
  #bar { display: flex; align-items: center; gap: 12px; padding: 10px 16px; background: #fff; border-bottom: 1px solid #ddd; }
  #pageTitle { font-size: 18px; font-weight: 600; flex: 1; overflow: hidden; text-overflow: ellipsis; white-space: nowrap; }
  #selectButton { background: #107c10; color: #fff; border: 0; border-radius: 4px; padding: 10px 22px;
                  font-size: 15px; font-weight: 600; cursor: pointer; box-shadow: 0 1px 3px rgba(0,0,0,.3); }
  #selectButton:disabled { background: #9bbf9b; cursor: default; }
  #selectButton.done { background: #0b5a0b; }
  iframe { flex: 1; border: 0; background: #fff; }
  #empty { padding: 40px; color: #777; }
</style>
</head>
<body>
<header><h1>Notebooks</h1><span id="selected">No page selected</span></header>
<main>
  <nav id="tree"></nav>
  <section id="pages">
    <div class="tools"><input id="newTitle" placeholder="New page title"><button id="newPage" disabled>New page</button></div>
    <div id="pageList"></div>
  </section>
  <section id="content">
    <div id="bar"><span id="pageTitle">Choose a page</span>
      <button id="selectButton" disabled title="Makes this the current page, as Copy Link to Page gives it">Select this page</button></div>
    <iframe id="view" sandbox title="Page content"></iframe>
  </section>
</main>
<script>
"use strict";
let currentSection = null, currentPage = null, selection = null;
const el = (tag, cls, text) => { const e = document.createElement(tag); if (cls) e.className = cls; if (text !== undefined) e.textContent = text; return e; };
async function api(path, options) {
  const reply = await fetch(path, options);
  if (!reply.ok) throw new Error(path + ": " + reply.status);
  return reply.json();
}
function showSelection() {
  document.getElementById("selected").textContent = selection ? "Selected: " + (selection.title || "(untitled)") : "No page selected";
  document.getElementById("selected").title = selection ? selection.link : "";
  const button = document.getElementById("selectButton");
  const chosen = selection && currentPage && selection.pageId === currentPage.id;
  button.textContent = chosen ? "Selected \u2713" : "Select this page";
  button.classList.toggle("done", !!chosen);
  document.querySelectorAll(".page").forEach(p => p.classList.toggle("chosen", !!selection && p.dataset.id === selection.pageId));
}
function addSections(parent, node, depth) {
  for (const s of node.sections) {
    const row = el("div", "section"); row.dataset.id = s.id; row.style.paddingLeft = (12 + depth * 14) + "px";
    row.append(el("span", "", s.name), el("span", "count", "(" + s.pageCount + ")"));
    row.onclick = () => openSection(s.id);
    parent.append(row);
  }
  for (const g of node.groups) {
    const row = el("div", "group", "\u25B8 " + g.name); row.style.paddingLeft = (12 + depth * 14) + "px";
    parent.append(row);
    addSections(parent, g, depth + 1);
  }
}
async function loadTree() {
  const tree = await api("/desktop/api/tree");
  const nav = document.getElementById("tree"); nav.textContent = "";
  for (const a of tree.accounts) {
    nav.append(el("div", "account", a.displayName + " \u2014 " + a.upn));
    for (const n of a.notebooks) { nav.append(el("div", "notebook", n.name)); addSections(nav, n, 1); }
  }
  selection = tree.selection;
  showSelection();
  return tree;
}
async function openSection(id, pageId) {
  currentSection = id;
  document.querySelectorAll(".section").forEach(s => s.classList.toggle("active", s.dataset.id === id));
  document.getElementById("newPage").disabled = false;
  const list = await api("/desktop/api/sections/" + encodeURIComponent(id) + "/pages");
  const box = document.getElementById("pageList"); box.textContent = "";
  for (const p of list.pages) {
    const row = el("div", "page", p.title || "(untitled)"); row.dataset.id = p.id;
    row.append(el("span", "when", p.modified.replace("T", " ").slice(0, 16)));
    row.onclick = () => openPage(p);
    box.append(row);
  }
  const first = list.pages.find(p => p.id === pageId) || list.pages[0];
  if (first) openPage(first); else { currentPage = null; document.getElementById("pageTitle").textContent = "This section has no pages"; document.getElementById("view").src = "about:blank"; }
  showSelection();
}
function openPage(p) {
  currentPage = p;
  document.querySelectorAll(".page").forEach(r => r.classList.toggle("active", r.dataset.id === p.id));
  document.getElementById("pageTitle").textContent = p.title || "(untitled)";
  document.getElementById("view").src = "/desktop/api/pages/" + encodeURIComponent(p.id) + "/view";
  document.getElementById("selectButton").disabled = false;
  showSelection();
}
document.getElementById("selectButton").onclick = async () => {
  if (!currentPage) return;
  const reply = await api("/desktop/api/selection", { method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify({ pageId: currentPage.id }) });
  selection = reply.selection; showSelection();
};
document.getElementById("newPage").onclick = async () => {
  if (!currentSection) return;
  const title = document.getElementById("newTitle").value.trim() || "Untitled page";
  const page = await api("/desktop/api/sections/" + encodeURIComponent(currentSection) + "/pages", { method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify({ title }) });
  document.getElementById("newTitle").value = "";
  await loadTree();
  await openSection(currentSection, page.id);
};
// "#section=<id>&page=<id>" opens that page; otherwise the selected page, or the first section.
const wanted = new URLSearchParams(location.hash.slice(1));
loadTree().then(tree => {
  if (wanted.get("section")) openSection(wanted.get("section"), wanted.get("page"));
  else if (tree.selection) openSection(tree.selection.sectionId, tree.selection.pageId);
  else { const first = document.querySelector(".section"); if (first) openSection(first.dataset.id); }
}).catch(e => { document.getElementById("pageTitle").textContent = "The notebook service did not answer (" + e.message + ")"; });
</script>
</body>
</html>
)HTML";
    return kPage;
}

} // namespace Cogitra::Service
