// Pictures of the editor with a 40-node map in both interface languages, finding a topic,
// and in a dark system, for docs/.
//
//   node tools/screenshots.mjs [site folder] [output folder]
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
if (process.argv[2]) process.env.COGITRA_EDITOR_SITE_DIR = path.resolve(process.argv[2]);
const out = path.resolve(process.argv[3] || path.join(here, '..', '..', 'docs'));
const { launchBrowser, openEditor, startServer } = await import('../../tests/support/editor-page.mjs');

const outlines = {
  en: ['Product launch', [
    ['Research', ['Customer interviews', 'Competitor review', 'Pricing survey', 'Market size', 'Analytics review']],
    ['Design', ['Wireframes', 'Visual style', 'Usability test', 'Accessibility pass', 'Icon set']],
    ['Build', ['Sync engine', 'Offline mode', 'Desktop app', 'Web editor', 'Test plan']],
    ['Launch', ['Press kit', 'Website', 'Launch video', 'Support docs', 'Partner emails']],
    ['Team', ['Hiring', 'Onboarding', 'Weekly review', 'Offsite']],
    ['Budget', ['Tools', 'Travel', 'Marketing', 'Reserve']],
    ['Risks', ['Schedule slip', 'Vendor delay', 'Scope creep', 'Key staff leave']],
  ]],
  cn: ['产品发布', [
    ['调研', ['用户访谈', '竞品分析', '定价调查', '市场规模', '数据分析']],
    ['设计', ['线框图', '视觉风格', '可用性测试', '无障碍检查', '图标集']],
    ['开发', ['同步引擎', '离线模式', '桌面应用', '网页编辑器', '测试计划']],
    ['发布', ['新闻资料', '官网', '发布视频', '帮助文档', '合作伙伴邮件']],
    ['团队', ['招聘', '入职培训', '每周回顾', '团建']],
    ['预算', ['工具', '差旅', '市场推广', '备用金']],
    ['风险', ['进度延误', '供应商延迟', '范围蔓延', '人员流失']],
  ]],
};

function mapFor(lang) {
  const [rootText, branches] = outlines[lang];
  let id = 0;
  const node = (text, children = [], extra = {}) => ({ data: { id: `s${id++}`, text, ...extra }, children });
  const root = node(rootText, branches.map(([text, leaves], i) => node(text,
    leaves.map((leaf, j) => node(leaf, [], j === 0 ? { progress: 1 + ((i * 3) % 9) } : {})),
    { priority: (i % 3) + 1 })));
  root.children[1].children[0].data.note = 'See the design folder.';
  root.children[3].children[1].data.hyperlink = 'https://example.com';
  if (id !== 40) throw new Error(`the ${lang} map has ${id} topics, not 40`);
  return { root, template: 'default', theme: 'fresh-blue', version: '1.4.43' };
}

const server = await startServer();
const browser = await launchBrowser();
try {
  for (const lang of ['en', 'cn']) {
    const page = await openEditor(browser, server.origin, { lang, viewport: { width: 1280, height: 800 } });
    await page.evaluate((t) => SetJsonData(t), JSON.stringify(mapFor(lang)));
    await page.keyboard.press(process.platform === 'darwin' ? 'Meta+0' : 'Control+0');
    await page.evaluate(() => {
      const m = CogitraEditor.minder;
      m.select(m.getRoot().getChildren()[2], true);
    });
    await page.waitForTimeout(900);
    await page.screenshot({ path: path.join(out, `editor-${lang}.png`) });
    if (lang === 'en') {
      await page.emulateMedia({ colorScheme: 'dark' });
      await page.screenshot({ path: path.join(out, 'editor-dark.png') });
      await page.emulateMedia({ colorScheme: 'light' });
      await page.keyboard.press(process.platform === 'darwin' ? 'Meta+f' : 'Control+f');
      await page.keyboard.type('review');
      await page.keyboard.press('Enter');
      await page.waitForTimeout(900);
      await page.screenshot({ path: path.join(out, 'editor-find.png') });
    }
    await page.context().close();
  }
} finally {
  await browser.close();
  await server.close();
}
