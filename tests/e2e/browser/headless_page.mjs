// One headless Chromium with a throw-away profile and one page, with scripts
// of this folder loaded and window.report bound to `report`.
import { chromium } from 'playwright-core';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));

export async function openHeadlessPage({ executablePath, scripts, report, onCrash, globals = {} }) {
  const profile = mkdtempSync(join(tmpdir(), 'kelvarn-chromium-'));
  const args = [
    '--disable-features=WebRtcHideLocalIpsWithMdns',
    '--disable-gpu',
    '--disable-quic',
    '--no-first-run',
    '--disable-background-networking',
    '--disable-component-update',
    '--disable-sync',
    '--autoplay-policy=no-user-gesture-required',
    // A headless page counts as hidden: its timers would run once a second.
    '--disable-background-timer-throttling',
    '--disable-renderer-backgrounding',
    '--disable-backgrounding-occluded-windows',
  ];
  if (process.getuid?.() === 0) args.push('--no-sandbox');
  let context;
  const close = async () => {
    try {
      await context?.close();
    } catch {
      // The browser may already be gone; the profile still has to go.
    }
    rmSync(profile, { recursive: true, force: true });
  };
  try {
    context = await chromium.launchPersistentContext(profile, {
      executablePath: executablePath || '/usr/bin/chromium',
      headless: true,
      args,
    });
    const page = context.pages()[0] ?? (await context.newPage());
    page.on('crash', onCrash);
    await page.exposeFunction('report', report);
    await page.evaluate((values) => Object.assign(window, values), globals);
    for (const script of scripts) await page.addScriptTag({ path: join(here, script) });
    return { page, version: context.browser()?.version() ?? '', close };
  } catch (error) {
    await close();
    throw error;
  }
}
