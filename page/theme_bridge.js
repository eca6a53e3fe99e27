(function(){
  var root=document.documentElement;
  function apply(t){
    if(t!=='light'&&t!=='dark')return;
    if(root.getAttribute('data-theme')===t)return;
    root.setAttribute('data-theme',t);
    try{localStorage.setItem('kiv_theme',t);}catch(e){}
    try{window.dispatchEvent(new CustomEvent('kiv-theme',{detail:t}));}catch(e){}
  }
  window.qzApplyTheme=apply;
  window.qzTheme=function(){var t=root.getAttribute('data-theme');return t==='light'||t==='dark'?t:'dark';};
  window.addEventListener('message',function(e){var d=e.data;if(d&&d.type==='qz-theme')apply(d.theme);});
  try{if(window.parent&&window.parent!==window)window.parent.postMessage({type:'qz-theme-request'},'*');}catch(e){}
})();
